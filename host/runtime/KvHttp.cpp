// KvHttp: one keep-alive HTTP/1.1 session (http or https) over a WireConnection.
//
// The session owns one connection and reuses it for every request; it reconnects after a failure,
// after the server closed it, and after the "Keep-Alive" idle time. Not thread-safe: the pool
// hands a session to one caller at a time.
#include "orvex/KvHttp.h"

#include <Poco/Exception.h>
#include <Poco/InflatingStream.h>
#include <Poco/MemoryStream.h>
#include <Poco/Net/NetException.h>
#include <Poco/URI.h>
#include <log4cxx/logger.h>

#include <algorithm>
#include <charconv>
#include <exception>
#include <limits>
#include <optional>
#include <string_view>

#include "WireConnection.h"
#include "orvex/Environment.h"

namespace orvex {
namespace {

using Clock = WireConnection::Clock;

constexpr const char* kRequestTimeoutHeader = "Request-Timeout";
constexpr int64_t kDefaultTimeoutMs = 60000;
// Socket time-outs end up as 32-bit millisecond counts on some platforms.
constexpr int64_t kMaxTimeoutMs = std::numeric_limits<int32_t>::max();
constexpr int64_t kDefaultMaxBody = 64 << 20;

const log4cxx::LoggerPtr& sessionLogger() {
  static const log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger("HttpSession");
  return logger;
}

// How far an attempt got, which decides whether it may be resent.
struct AttemptTrace {
  bool answerStarted = false;
  bool timedOut = false;
};

bool hasLineBreak(const std::string& text) {
  return text.find_first_of("\r\n") != std::string::npos;
}

bool sameName(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return std::tolower(static_cast<unsigned char>(x)) ==
                  std::tolower(static_cast<unsigned char>(y));
         });
}

// The millisecond value of "Request-Timeout", clamped to [1, kMaxTimeoutMs]; 0 when absent,
// unreadable or not positive.
int64_t requestTimeoutMs(const HeaderMap& headers) {
  auto it = headers.find(kRequestTimeoutHeader);
  if (it == headers.end()) return 0;
  std::string_view text = it->second;
  int64_t ms = 0;
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), ms);
  if (ec == std::errc::result_out_of_range && !text.empty() && text[0] != '-') return kMaxTimeoutMs;
  if (ec != std::errc() || end != text.data() + text.size() || ms <= 0) return 0;
  return std::min(ms, kMaxTimeoutMs);
}

ResultStatus statusOf(int status, const std::string& reason) {
  if (status >= 200 && status < 300) return ResultStatus();
  int32_t code = EN_MAIN_SERVICE_ERROR;
  if (status == 401) code = EN_TokenErr;
  if (status == 403) code = EN_FORBIDDEN;
  return ResultStatus(code, "HTTP " + std::to_string(status) + " " + reason);
}

bool configFlag(const std::string& key) {
  std::string value = vantor::Environment::instance().getValue(key, "true");
  return !(value == "false" || value == "0" || value == "no" || value == "off");
}

// Inflates a gzip body in place, failing past `limit` bytes.
void inflateGzip(std::string& body, uint64_t limit) {
  std::string plain;
  try {
    Poco::MemoryInputStream source(body.data(), body.size());  // reads the body without a copy
    Poco::InflatingInputStream inflater(source, Poco::InflatingStreamBuf::STREAM_GZIP);
    inflater.exceptions(std::ios::badbit);  // corrupt data must not read as a short body
    char chunk[16 * 1024];
    while (inflater.read(chunk, sizeof chunk) || inflater.gcount() > 0) {
      if (static_cast<uint64_t>(inflater.gcount()) > limit - plain.size()) {
        std::string().swap(body);
        throw WireConnection::Failure(
            ON_MEMORYSHORT,
            "inflated answer body larger than the limit of " + std::to_string(limit) + " bytes");
      }
      plain.append(chunk, static_cast<size_t>(inflater.gcount()));
    }
  } catch (const Poco::Exception& e) {
    throw WireConnection::Failure(
        EN_MAIN_SERVICE_ERROR,
        "badly framed answer: gzip body cannot be inflated: " + e.displayText());
  }
  body.swap(plain);
}

}  // namespace

struct KvHttp::Impl {
  explicit Impl(const SessionOptions& options);

  ResultStatus exchange(const std::string& method, const std::string& pathAndQuery,
                        const HeaderMap& headers, const std::string* body, std::string& rsp,
                        HeaderMap* rspHeaders);

 private:
  ResultStatus readOptions(const SessionOptions& options);
  ResultStatus readAddress(const std::string& host);
  ResultStatus buildRequest(const std::string& method, const std::string& pathAndQuery,
                            const HeaderMap& headers, const std::string* body);
  ResultStatus attempt(Clock::time_point deadline, std::string& rsp, HeaderMap* rspHeaders,
                       AttemptTrace& trace);
  void openConnection(Clock::time_point deadline);
  void record(const std::string& method, const std::string& pathAndQuery,
              const ResultStatus& status, size_t bodyBytes) const;

  ResultStatus config_;  // not OK when the options cannot make a session
  std::string address_;  // host:port, for messages
  std::string hostHeader_;
  std::string basePath_;  // the address's path without a trailing "/", put before every path
  std::optional<WireConnection::Tls> tls_;
  std::chrono::milliseconds keepAlive_{0};
  bool recordLog_ = false;
  bool gzip_ = true;
  uint64_t maxBody_ = kDefaultMaxBody;
  int64_t timeoutMs_ = kDefaultTimeoutMs;
  std::unique_ptr<WireConnection> wire_;
  Clock::time_point lastUsed_;
  std::string request_;
  int lastHttpStatus_ = 0;
};

KvHttp::Impl::Impl(const SessionOptions& options) { config_ = readOptions(options); }

ResultStatus KvHttp::Impl::readOptions(const SessionOptions& options) {
  auto hostIt = options.find("Host");
  const std::string* host =
      hostIt == options.end() ? nullptr : boost::any_cast<std::string>(&hostIt->second);
  if (host == nullptr) {
    return ResultStatus(INVALID_FRONTADDRESS, "session option \"Host\" is missing or not a string");
  }
  ResultStatus status = readAddress(*host);
  if (!status.ok()) return status;

  auto keepIt = options.find("Keep-Alive");
  if (keepIt != options.end()) {
    const auto* keepAlive = boost::any_cast<OptKeepAlive>(&keepIt->second);
    if (keepAlive == nullptr) {
      return ResultStatus(INVALID_PARAM, "session option \"Keep-Alive\" is not an OptKeepAlive");
    }
    if (keepAlive->value > 0) keepAlive_ = std::chrono::milliseconds(keepAlive->value);
  }
  auto logIt = options.find("Record-Log");
  if (logIt != options.end()) {
    const bool* recordLog = boost::any_cast<bool>(&logIt->second);
    if (recordLog == nullptr) {
      return ResultStatus(INVALID_PARAM, "session option \"Record-Log\" is not a bool");
    }
    recordLog_ = *recordLog;
  }
  auto maxIt = options.find("Max-Body-Size");
  if (maxIt != options.end()) {
    const int64_t* maxBody = boost::any_cast<int64_t>(&maxIt->second);
    if (maxBody == nullptr || *maxBody <= 0) {
      return ResultStatus(INVALID_PARAM,
                          "session option \"Max-Body-Size\" is not a positive int64_t");
    }
    maxBody_ = static_cast<uint64_t>(*maxBody);
  }
  gzip_ = configFlag("http_gzip");
  return ResultStatus();
}

ResultStatus KvHttp::Impl::readAddress(const std::string& host) {
  if (host.find("://") == std::string::npos) {
    return ResultStatus(INVALID_FRONTADDRESS,
                        "service address \"" + host + "\" is not a URL like http://host:port");
  }
  Poco::URI uri;
  try {
    uri = Poco::URI(host);
  } catch (const Poco::Exception& e) {
    return ResultStatus(INVALID_FRONTADDRESS,
                        "service address \"" + host + "\" cannot be parsed: " + e.displayText());
  }
  if (uri.getScheme() != "http" && uri.getScheme() != "https") {
    return ResultStatus(NOT_SUPPORT, "scheme \"" + uri.getScheme() + "\" of \"" + host +
                                         "\" is not supported; only http and https are");
  }
  if (uri.getHost().empty()) {
    return ResultStatus(INVALID_FRONTADDRESS, "service address \"" + host + "\" has no host");
  }
  if (uri.getScheme() == "https") {
    const vantor::Environment& config = vantor::Environment::instance();
    tls_ = WireConnection::Tls{config.getValue("tls_ca_file", ""), configFlag("tls_verify")};
  }
  address_ = uri.getHost() + ":" + std::to_string(uri.getPort());
  hostHeader_ = uri.getAuthority();
  basePath_ = uri.getPath();
  while (!basePath_.empty() && basePath_.back() == '/') basePath_.pop_back();
  wire_ = std::make_unique<WireConnection>(uri.getHost(), uri.getPort(), tls_);
  return ResultStatus();
}

ResultStatus KvHttp::Impl::exchange(const std::string& method, const std::string& pathAndQuery,
                                    const HeaderMap& headers, const std::string* body,
                                    std::string& rsp, HeaderMap* rspHeaders) {
  rsp.clear();
  if (rspHeaders != nullptr) rspHeaders->clear();
  if (!config_.ok()) return config_;
  ResultStatus status = buildRequest(method, pathAndQuery, headers, body);
  if (!status.ok()) return status;

  int64_t ms = requestTimeoutMs(headers);
  timeoutMs_ = ms > 0 ? ms : kDefaultTimeoutMs;
  const Clock::time_point deadline = Clock::now() + std::chrono::milliseconds(timeoutMs_);
  if (wire_->isOpen() && keepAlive_.count() > 0 && Clock::now() - lastUsed_ > keepAlive_) {
    wire_->close();
  }
  const bool reused = wire_->isOpen();
  AttemptTrace trace;
  status = attempt(deadline, rsp, rspHeaders, trace);
  // The server may have closed an idle kept-alive connection: resend once on a new one, but
  // only if nothing came back, and never after a time-out (the server may be working on it).
  if (!status.ok() && reused && !trace.answerStarted && !trace.timedOut) {
    rsp.clear();
    if (rspHeaders != nullptr) rspHeaders->clear();
    trace = AttemptTrace();
    status = attempt(deadline, rsp, rspHeaders, trace);
  }
  record(method, pathAndQuery, status, rsp.size());
  return status;
}

ResultStatus KvHttp::Impl::buildRequest(const std::string& method, const std::string& pathAndQuery,
                                        const HeaderMap& headers, const std::string* body) {
  if (hasLineBreak(pathAndQuery) || pathAndQuery.find(' ') != std::string::npos) {
    return ResultStatus(INVALID_PARAM, "request path contains a blank or a line break");
  }
  for (const auto& header : headers) {
    if (header.first.empty() || hasLineBreak(header.first) || hasLineBreak(header.second)) {
      // Only the name is shown: the value may be a credential.
      std::string name = header.first.substr(0, header.first.find_first_of("\r\n"));
      return ResultStatus(INVALID_PARAM,
                          "request header \"" + name + "\" is empty or contains a line break");
    }
  }
  request_ = method + " " + basePath_;
  if (pathAndQuery.empty() || pathAndQuery[0] != '/') request_ += '/';
  request_ += pathAndQuery + " HTTP/1.1\r\nHost: " + hostHeader_ + "\r\n";
  bool acceptSet = false;
  for (const auto& [name, value] : headers) {
    if (sameName(name, "Host") || sameName(name, "Content-Length")) continue;
    acceptSet = acceptSet || sameName(name, "Accept-Encoding");
    request_ += name + ": " + value + "\r\n";
  }
  if (gzip_ && !acceptSet) request_ += "Accept-Encoding: gzip\r\n";
  if (body != nullptr) request_ += "Content-Length: " + std::to_string(body->size()) + "\r\n";
  request_ += "\r\n";
  if (body != nullptr) request_ += *body;
  return ResultStatus();
}

void KvHttp::Impl::openConnection(Clock::time_point deadline) {
  if (wire_->isOpen()) return;
  wire_->open(deadline);
  if (tls_ && !tls_->verify) {
    LOG4CXX_WARN(sessionLogger(),
                 "TLS certificate of " << address_ << " not verified (tls_verify=false)");
  }
}

ResultStatus KvHttp::Impl::attempt(Clock::time_point deadline, std::string& rsp,
                                   HeaderMap* rspHeaders, AttemptTrace& trace) {
  ResultStatus failure;
  try {
    openConnection(deadline);
    wire_->send(request_, deadline);
    WireConnection::Head head = wire_->readHead(deadline);
    if (rspHeaders != nullptr) *rspHeaders = head.headers;
    wire_->readBody(head, maxBody_, rsp, deadline);
    auto coding = head.headers.find("content-encoding");
    if (coding != head.headers.end() && sameName(coding->second, "gzip")) {
      inflateGzip(rsp, maxBody_);
    }
    trace.answerStarted = true;
    lastHttpStatus_ = head.status;
    lastUsed_ = Clock::now();
    return statusOf(head.status, head.reason);
  } catch (const WireConnection::Failure& e) {
    failure = ResultStatus(e.code(), std::string(e.what()) + " (" + address_ + ")");
  } catch (const Poco::TimeoutException&) {
    trace.timedOut = true;
    failure = ResultStatus(TIMEOUT, "no complete answer from " + address_ + " within " +
                                        std::to_string(timeoutMs_) + " ms");
  } catch (const Poco::Net::ConnectionRefusedException&) {
    failure = ResultStatus(EN_FAIL_CONNECT, "connection refused by " + address_);
  } catch (const Poco::Net::ConnectionResetException&) {
    failure = ResultStatus(EN_FAIL_CONNECT, "connection reset by " + address_);
  } catch (const Poco::Net::ConnectionAbortedException&) {
    failure = ResultStatus(EN_FAIL_CONNECT, "connection to " + address_ + " aborted");
  } catch (const Poco::IOException& e) {
    failure = ResultStatus(NATIVE_ERR, "network failure with " + address_ + ": " + e.displayText());
  } catch (const Poco::Exception& e) {
    failure = ResultStatus(NATIVE_ERR, "failure with " + address_ + ": " + e.displayText());
  } catch (const std::exception& e) {
    failure = ResultStatus(NATIVE_ERR, "failure with " + address_ + ": " + e.what());
  }
  trace.answerStarted = trace.answerStarted || wire_->answerStarted();
  // A session that failed is never reused as it stands: no late answer can be taken for the next.
  wire_->close();
  lastHttpStatus_ = 0;
  return failure;
}

// One DEBUG line per exchange; header values never appear (they carry the token and signature).
void KvHttp::Impl::record(const std::string& method, const std::string& pathAndQuery,
                          const ResultStatus& status, size_t bodyBytes) const {
  if (!recordLog_) return;
  const log4cxx::LoggerPtr& logger = sessionLogger();
  if (!logger->isDebugEnabled()) return;
  if (lastHttpStatus_ != 0) {
    LOG4CXX_DEBUG(logger, method << " " << pathAndQuery << " -> " << lastHttpStatus_ << ", "
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
  return impl_->exchange("GET", pathAndQuery, headers, nullptr, rsp, nullptr);
}

ResultStatus KvHttp::getRspHeader(std::string& rsp, HeaderMap& rspHeaders,
                                  const std::string& pathAndQuery, const HeaderMap& headers) {
  if (!impl_) return ResultStatus(NOT_SUPPORT, "session has no connection");
  return impl_->exchange("GET", pathAndQuery, headers, nullptr, rsp, &rspHeaders);
}

ResultStatus KvHttp::post(std::string& rsp, const std::string& pathAndQuery,
                          const std::string& body, const HeaderMap& headers) {
  if (!impl_) return ResultStatus(NOT_SUPPORT, "session has no connection");
  return impl_->exchange("POST", pathAndQuery, headers, &body, rsp, nullptr);
}

}  // namespace orvex
