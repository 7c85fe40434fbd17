// KvHttp: one keep-alive HTTP/1.1 session over Poco::Net::HTTPClientSession.
//
// The Poco session, the request and the response objects live as long as the KvHttp and are
// reused by every request, so the hot path allocates little beyond the body. Not thread-safe:
// the pool hands a session to one caller at a time.
#include "orvex/KvHttp.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/Net/HTTPResponse.h>
#include <Poco/Net/NetException.h>
#include <Poco/Timespan.h>
#include <Poco/URI.h>
#include <log4cxx/logger.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <istream>
#include <ostream>
#include <string_view>

namespace orvex {
namespace {

constexpr const char* kRequestTimeoutHeader = "Request-Timeout";
constexpr int64_t kDefaultTimeoutMs = 60000;
constexpr std::streamsize kReadChunk = 16 * 1024;
// A Content-Length is trusted for pre-allocation only up to this size; larger bodies grow.
constexpr int64_t kMaxReserve = 64 * 1024 * 1024;

const log4cxx::LoggerPtr& sessionLogger() {
  static const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("HttpSession");
  return logger;
}

// Tells whether the next request goes out on the connection that is already open.
class Connection : public Poco::Net::HTTPClientSession {
 public:
  using Poco::Net::HTTPClientSession::HTTPClientSession;
  bool willReuse() const { return connected() && !mustReconnect(); }
};

// How far an attempt got, which decides whether it may be resent.
struct AttemptTrace {
  bool responseArrived = false;
  bool timedOut = false;
};

bool isTwoHundred(int status) { return status >= 200 && status < 300; }

bool hasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

// The positive millisecond value of "Request-Timeout", or 0 when absent or unreadable.
int64_t requestTimeoutMs(const HeaderMap& headers) {
  auto it = headers.find(kRequestTimeoutHeader);
  if (it == headers.end()) return 0;
  std::string_view text = it->second;
  int64_t ms = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (ec != std::errc() || end != text.data() + text.size() || ms <= 0) return 0;
  return ms;
}

ResultStatus statusOf(const Poco::Net::HTTPResponse& response) {
  int status = static_cast<int>(response.getStatus());
  if (isTwoHundred(status)) return ResultStatus();
  int32_t code = EN_MAIN_SERVICE_ERROR;
  if (status == Poco::Net::HTTPResponse::HTTP_UNAUTHORIZED) code = EN_TokenErr;
  if (status == Poco::Net::HTTPResponse::HTTP_FORBIDDEN) code = EN_FORBIDDEN;
  return ResultStatus(code, "HTTP " + std::to_string(status) + " " + response.getReason());
}

// Copies the response headers with their names as sent; repeated names are joined by ", ".
void copyHeaders(const Poco::Net::HTTPResponse& response, HeaderMap& out) {
  for (const auto& field : response) {
    auto [it, inserted] = out.emplace(field.first, field.second);
    if (!inserted) it->second.append(", ").append(field.second);
  }
}

}  // namespace

struct KvHttp::Impl {
  explicit Impl(const SessionOptions& options);

  ResultStatus exchange(const std::string& method, const std::string& pathAndQuery,
                        const HeaderMap& headers, const std::string* body, std::string& rsp,
                        HeaderMap* rspHeaders);

 private:
  ResultStatus readOptions(const SessionOptions& options);
  ResultStatus prepareRequest(const std::string& method, const std::string& pathAndQuery,
                              const HeaderMap& headers, const std::string* body);
  void applyTimeout(int64_t ms);
  ResultStatus attempt(const std::string* body, std::string& rsp, HeaderMap* rspHeaders,
                       AttemptTrace& trace);
  ResultStatus readBody(std::istream& in, std::string& rsp);
  void renewConnection();
  void record(const std::string& method, const std::string& pathAndQuery,
              const ResultStatus& status, size_t bodyBytes) const;

  ResultStatus config_;  // not OK when the options cannot make a session
  std::string address_;  // host:port, for messages
  std::string hostName_;
  uint16_t port_ = 0;
  Poco::Timespan keepAlive_;
  bool recordLog_ = false;
  int64_t timeoutMs_ = kDefaultTimeoutMs;
  std::unique_ptr<Connection> connection_;
  Poco::Net::HTTPRequest request_{Poco::Net::HTTPMessage::HTTP_1_1};
  Poco::Net::HTTPResponse response_;
};

KvHttp::Impl::Impl(const SessionOptions& options) {
  config_ = readOptions(options);
  if (config_.ok()) renewConnection();
}

ResultStatus KvHttp::Impl::readOptions(const SessionOptions& options) {
  auto hostIt = options.find("Host");
  const std::string* host =
      hostIt == options.end() ? nullptr : boost::any_cast<std::string>(&hostIt->second);
  if (host == nullptr) {
    return ResultStatus(INVALID_FRONTADDRESS, "session option \"Host\" is missing or not a string");
  }
  if (host->find("://") == std::string::npos) {
    return ResultStatus(INVALID_FRONTADDRESS,
                        "service address \"" + *host + "\" is not a URL like http://host:port");
  }
  Poco::URI uri;
  try {
    uri = Poco::URI(*host);
  } catch (const Poco::Exception& e) {
    return ResultStatus(INVALID_FRONTADDRESS,
                        "service address \"" + *host + "\" cannot be parsed: " + e.displayText());
  }
  if (uri.getScheme() != "http") {
    return ResultStatus(NOT_SUPPORT, "scheme \"" + uri.getScheme() + "\" of \"" + *host +
                                         "\" is not supported; only http is");
  }
  if (uri.getHost().empty()) {
    return ResultStatus(INVALID_FRONTADDRESS, "service address \"" + *host + "\" has no host");
  }
  hostName_ = uri.getHost();
  port_ = uri.getPort();
  address_ = hostName_ + ":" + std::to_string(port_);

  auto keepIt = options.find("Keep-Alive");
  if (keepIt != options.end()) {
    const auto* keepAlive = boost::any_cast<OptKeepAlive>(&keepIt->second);
    if (keepAlive == nullptr) {
      return ResultStatus(INVALID_PARAM, "session option \"Keep-Alive\" is not an OptKeepAlive");
    }
    if (keepAlive->value > 0) keepAlive_ = Poco::Timespan(keepAlive->value * 1000);
  }
  auto logIt = options.find("Record-Log");
  if (logIt != options.end()) {
    const bool* recordLog = boost::any_cast<bool>(&logIt->second);
    if (recordLog == nullptr) {
      return ResultStatus(INVALID_PARAM, "session option \"Record-Log\" is not a bool");
    }
    recordLog_ = *recordLog;
  }
  return ResultStatus();
}

// A fresh Poco session: used at start and after any failure, so that no state of a broken
// connection (such as a remembered network exception) leaks into the next request.
void KvHttp::Impl::renewConnection() {
  connection_ = std::make_unique<Connection>(hostName_, port_);
  connection_->setKeepAlive(true);
  if (keepAlive_.totalMicroseconds() > 0) connection_->setKeepAliveTimeout(keepAlive_);
  Poco::Timespan timeout(timeoutMs_ * 1000);
  connection_->setTimeout(timeout, timeout, timeout);
}

ResultStatus KvHttp::Impl::exchange(const std::string& method, const std::string& pathAndQuery,
                                    const HeaderMap& headers, const std::string* body,
                                    std::string& rsp, HeaderMap* rspHeaders) {
  rsp.clear();
  if (rspHeaders != nullptr) rspHeaders->clear();
  if (!config_.ok()) return config_;
  ResultStatus status = prepareRequest(method, pathAndQuery, headers, body);
  if (!status.ok()) return status;

  applyTimeout(requestTimeoutMs(headers));
  bool reused = connection_->willReuse();
  AttemptTrace trace;
  status = attempt(body, rsp, rspHeaders, trace);
  // The server may have closed an idle kept-alive connection: resend once on a new one, but
  // only if nothing came back, and never after a time-out (the server may be working on it).
  if (!status.ok() && reused && !trace.responseArrived && !trace.timedOut) {
    rsp.clear();
    if (rspHeaders != nullptr) rspHeaders->clear();
    trace = AttemptTrace();
    status = attempt(body, rsp, rspHeaders, trace);
  }
  record(method, pathAndQuery, status, rsp.size());
  return status;
}

ResultStatus KvHttp::Impl::prepareRequest(const std::string& method,
                                          const std::string& pathAndQuery, const HeaderMap& headers,
                                          const std::string* body) {
  if (hasLineBreak(pathAndQuery)) {
    return ResultStatus(INVALID_PARAM, "request path contains a line break");
  }
  for (const auto& header : headers) {
    if (header.first.empty() || hasLineBreak(header.first) || hasLineBreak(header.second)) {
      // Only the name is shown: the value may be a credential.
      std::string name = header.first.substr(0, header.first.find_first_of("\r\n"));
      return ResultStatus(INVALID_PARAM,
                          "request header \"" + name + "\" is empty or contains a line break");
    }
  }
  request_.clear();
  request_.setMethod(method);
  request_.setURI(pathAndQuery.empty() ? std::string("/") : pathAndQuery);
  for (const auto& header : headers) request_.set(header.first, header.second);
  if (body != nullptr) request_.setContentLength64(static_cast<Poco::Int64>(body->size()));
  return ResultStatus();
}

void KvHttp::Impl::applyTimeout(int64_t ms) {
  if (ms <= 0) ms = kDefaultTimeoutMs;
  if (ms == timeoutMs_) return;
  timeoutMs_ = ms;
  Poco::Timespan timeout(ms * 1000);
  connection_->setTimeout(timeout, timeout, timeout);
  // Poco applies the stored time-outs to the socket only when it connects; an open
  // kept-alive connection needs them set on the socket itself.
  if (connection_->connected()) {
    try {
      connection_->socket().setReceiveTimeout(timeout);
      connection_->socket().setSendTimeout(timeout);
    } catch (const Poco::Exception&) {
      renewConnection();  // the next request connects afresh with the new time-out
    }
  }
}

ResultStatus KvHttp::Impl::attempt(const std::string* body, std::string& rsp, HeaderMap* rspHeaders,
                                   AttemptTrace& trace) {
  ResultStatus failure;
  try {
    std::ostream& out = connection_->sendRequest(request_);
    if (body != nullptr && !body->empty()) {
      // Straight to the stream buffer, so that a write failure throws instead of setting badbit.
      out.rdbuf()->sputn(body->data(), static_cast<std::streamsize>(body->size()));
      out.rdbuf()->pubsync();
    }
    std::istream& in = connection_->receiveResponse(response_);
    trace.responseArrived = true;
    if (rspHeaders != nullptr) copyHeaders(response_, *rspHeaders);
    ResultStatus transfer = readBody(in, rsp);
    if (!transfer.ok()) {
      renewConnection();
      return transfer;
    }
    return statusOf(response_);
  } catch (const Poco::TimeoutException&) {
    trace.timedOut = true;
    failure = ResultStatus(
        TIMEOUT, "no answer from " + address_ + " within " + std::to_string(timeoutMs_) + " ms");
  } catch (const Poco::Net::ConnectionRefusedException&) {
    failure = ResultStatus(EN_FAIL_CONNECT, "connection refused by " + address_);
  } catch (const Poco::Net::ConnectionResetException&) {
    failure = ResultStatus(EN_FAIL_CONNECT, "connection reset by " + address_);
  } catch (const Poco::Net::ConnectionAbortedException&) {
    failure = ResultStatus(EN_FAIL_CONNECT, "connection to " + address_ + " aborted");
  } catch (const Poco::Net::NoMessageException&) {
    failure =
        ResultStatus(EN_FAIL_CONNECT, "connection closed by " + address_ + " without a response");
  } catch (const Poco::Net::NetException& e) {
    failure = ResultStatus(NATIVE_ERR, "network failure with " + address_ + ": " + e.displayText());
  } catch (const Poco::Exception& e) {
    failure = ResultStatus(NATIVE_ERR, "failure with " + address_ + ": " + e.displayText());
  } catch (const std::exception& e) {
    failure = ResultStatus(NATIVE_ERR, "failure with " + address_ + ": " + e.what());
  }
  renewConnection();
  return failure;
}

// Reads the body straight into `rsp`; a body cut short of its Content-Length is a failure.
ResultStatus KvHttp::Impl::readBody(std::istream& in, std::string& rsp) {
  std::streambuf* source = in.rdbuf();
  const int64_t expected = response_.getContentLength64();
  const bool known = expected != Poco::Net::HTTPMessage::UNKNOWN_CONTENT_LENGTH;
  if (known && expected > 0) rsp.resize(static_cast<size_t>(std::min(expected, kMaxReserve)));
  size_t used = 0;
  for (;;) {
    if (known && static_cast<int64_t>(used) >= expected) break;
    if (used == rsp.size()) rsp.resize(std::max(rsp.size() * 2, used + kReadChunk));
    std::streamsize got =
        source->sgetn(&rsp[used], static_cast<std::streamsize>(rsp.size() - used));
    if (got <= 0) break;
    used += static_cast<size_t>(got);
  }
  rsp.resize(used);
  if (known && static_cast<int64_t>(used) < expected) {
    return ResultStatus(EN_FAIL_CONNECT, "connection closed by " + address_ + " after " +
                                             std::to_string(used) + " of " +
                                             std::to_string(expected) + " body bytes");
  }
  return ResultStatus();
}

// One DEBUG line per exchange; header values never appear (they carry the token and signature).
void KvHttp::Impl::record(const std::string& method, const std::string& pathAndQuery,
                          const ResultStatus& status, size_t bodyBytes) const {
  if (!recordLog_) return;
  const log4cxx::LoggerPtr& logger = sessionLogger();
  if (!logger->isDebugEnabled()) return;
  if (status.ok() || status.code == EN_TokenErr || status.code == EN_FORBIDDEN ||
      status.code == EN_MAIN_SERVICE_ERROR) {
    LOG4CXX_DEBUG(logger, method << " " << pathAndQuery << " -> " << response_.getStatus() << ", "
                                 << bodyBytes << " bytes");
  } else {
    LOG4CXX_DEBUG(logger, method << " " << pathAndQuery << " -> " << status.toString());
  }
}

KvHttp::KvHttp(const SessionOptions& options) : impl_(std::make_unique<Impl>(options)) {}

KvHttp::KvHttp() = default;

KvHttp::~KvHttp() = default;

ResultStatus KvHttp::get(std::string& rsp, const std::string& pathAndQuery,
                         const HeaderMap& headers) {
  if (!impl_) return ResultStatus(NOT_SUPPORT, "session has no connection");
  return impl_->exchange(Poco::Net::HTTPRequest::HTTP_GET, pathAndQuery, headers, nullptr, rsp,
                         nullptr);
}

ResultStatus KvHttp::getRspHeader(std::string& rsp, HeaderMap& rspHeaders,
                                  const std::string& pathAndQuery, const HeaderMap& headers) {
  if (!impl_) return ResultStatus(NOT_SUPPORT, "session has no connection");
  return impl_->exchange(Poco::Net::HTTPRequest::HTTP_GET, pathAndQuery, headers, nullptr, rsp,
                         &rspHeaders);
}

ResultStatus KvHttp::post(std::string& rsp, const std::string& pathAndQuery,
                          const std::string& body, const HeaderMap& headers) {
  if (!impl_) return ResultStatus(NOT_SUPPORT, "session has no connection");
  return impl_->exchange(Poco::Net::HTTPRequest::HTTP_POST, pathAndQuery, headers, &body, rsp,
                         nullptr);
}

}  // namespace orvex
