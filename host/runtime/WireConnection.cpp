// WireConnection: HTTP/1.1 answers read from a plain or TLS socket under an exchange deadline.
//
// TLS contexts are shared by every connection with the same settings (made once, under a mutex);
// the certificate error of a failed handshake is recorded per thread, so that the failure can
// name its cause.
#include "WireConnection.h"

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/IPAddress.h>
#include <Poco/Net/NetException.h>
#include <Poco/Net/SSLException.h>
#include <Poco/Net/SecureStreamSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/Net/X509Certificate.h>
#include <openssl/ssl.h>
#include <openssl/x509v3.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstring>
#include <map>
#include <mutex>
#include <utility>

#include "orvex/ResultCode.h"

namespace orvex {
namespace {

constexpr size_t kBufferSize = 16 * 1024;
constexpr size_t kMaxLine = 16 * 1024;    // one status, header or chunk-size line
constexpr size_t kMaxHeaderLines = 256;   // header lines of one answer
constexpr size_t kMaxReserve = 16 << 20;  // a declared length is trusted this far for reserve()

// A server that closed the connection must give an error, not a SIGPIPE that ends the process.
#ifdef MSG_NOSIGNAL
constexpr int kSendFlags = MSG_NOSIGNAL;
#else
constexpr int kSendFlags = 0;
#endif

thread_local std::string tlsVerifyError;

int recordVerifyError(int ok, X509_STORE_CTX* store) {
  if (!ok) tlsVerifyError = X509_verify_cert_error_string(X509_STORE_CTX_get_error(store));
  return ok;
}

// One context per (CA file, verify) pair, shared by all connections of the process.
Poco::Net::Context::Ptr tlsContext(const WireConnection::Tls& tls) {
  static std::mutex mutex;
  static std::map<std::pair<std::string, bool>, Poco::Net::Context::Ptr> contexts;
  std::lock_guard<std::mutex> lock(mutex);
  Poco::Net::Context::Ptr& context = contexts[{tls.caFile, tls.verify}];
  if (context.isNull()) {
    auto mode = tls.verify ? Poco::Net::Context::VERIFY_RELAXED : Poco::Net::Context::VERIFY_NONE;
    context = new Poco::Net::Context(Poco::Net::Context::TLS_CLIENT_USE, "", "", tls.caFile, mode,
                                     9, /*loadDefaultCAs=*/true);
    // The host name is checked after the handshake, without DNS look-ups (see checkHostName).
    context->enableExtendedCertificateVerification(false);
    if (tls.verify) SSL_CTX_set_verify(context->sslContext(), SSL_VERIFY_PEER, recordVerifyError);
  }
  return context;
}

bool certificateNames(const Poco::Net::X509Certificate& certificate, const std::string& host) {
  X509* x509 = const_cast<X509*>(certificate.certificate());
  Poco::Net::IPAddress ip;
  if (Poco::Net::IPAddress::tryParse(host, ip))
    return X509_check_ip_asc(x509, host.c_str(), 0) == 1;
  return X509_check_host(x509, host.data(), host.size(), 0, nullptr) == 1;
}

Poco::Timespan timeLeft(WireConnection::Clock::time_point deadline) {
  auto left = std::chrono::duration_cast<std::chrono::microseconds>(deadline -
                                                                    WireConnection::Clock::now());
  // Some platforms read a zero socket time-out as "wait for ever".
  if (left.count() <= 0) throw Poco::TimeoutException("exchange deadline passed");
  return Poco::Timespan(left.count());
}

std::string lowerCase(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

std::string trimmed(const std::string& text) {
  size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) return std::string();
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool containsToken(const std::string& list, const std::string& token) {
  return (", " + lowerCase(list) + ",").find(", " + token + ",") != std::string::npos ||
         lowerCase(trimmed(list)) == token;
}

[[noreturn]] void badlyFramed(const std::string& what) {
  throw WireConnection::Failure(EN_MAIN_SERVICE_ERROR, "badly framed answer: " + what);
}

[[noreturn]] void cutShort(const std::string& what) {
  throw WireConnection::Failure(EN_FAIL_CONNECT, "answer cut short: " + what);
}

[[noreturn]] void tooLarge(uint64_t limit) {
  throw WireConnection::Failure(
      ON_MEMORYSHORT, "answer body larger than the limit of " + std::to_string(limit) + " bytes");
}

void parseStatusLine(const std::string& line, WireConnection::Head& head) {
  // "HTTP/1.1 200 OK"
  if (line.size() < 12 || line.compare(0, 5, "HTTP/") != 0 || line[8] != ' ') {
    badlyFramed("status line '" + line.substr(0, 64) + "'");
  }
  auto [end, ec] = std::from_chars(line.data() + 9, line.data() + 12, head.status);
  if (ec != std::errc() || end != line.data() + 12 || head.status < 100 ||
      (line.size() > 12 && line[12] != ' ')) {
    badlyFramed("status line '" + line.substr(0, 64) + "'");
  }
  head.reason = line.size() > 13 ? line.substr(13) : std::string();
  head.keepAlive = line.compare(5, 3, "1.1") == 0;
}

void addHeader(const std::string& line, WireConnection::Head& head) {
  size_t colon = line.find(':');
  if (colon == 0 || colon == std::string::npos || line[0] == ' ' || line[0] == '\t') {
    badlyFramed("header line '" + line.substr(0, 64) + "'");
  }
  std::string name = lowerCase(line.substr(0, colon));
  std::string value = trimmed(line.substr(colon + 1));
  auto [it, inserted] = head.headers.emplace(name, value);
  if (!inserted) it->second.append(", ").append(value);
}

void readFraming(WireConnection::Head& head) {
  const HeaderMap& headers = head.headers;
  if (auto it = headers.find("transfer-encoding"); it != headers.end()) {
    if (!containsToken(it->second, "chunked")) badlyFramed("transfer coding '" + it->second + "'");
    head.chunked = true;
  } else if (auto length = headers.find("content-length"); length != headers.end()) {
    const std::string& text = length->second;
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), head.contentLength);
    if (text.empty() || ec != std::errc() || end != text.data() + text.size() ||
        head.contentLength < 0) {
      badlyFramed("Content-Length '" + text.substr(0, 32) + "'");
    }
  }
  if (head.status < 200 || head.status == 204 || head.status == 304) head.contentLength = 0;
  if (auto it = headers.find("connection"); it != headers.end()) {
    if (containsToken(it->second, "close")) head.keepAlive = false;
    if (containsToken(it->second, "keep-alive")) head.keepAlive = true;
  }
  // A body that only the end of the connection delimits leaves nothing to reuse.
  if (!head.chunked && head.contentLength < 0) head.keepAlive = false;
}

}  // namespace

WireConnection::WireConnection(std::string host, uint16_t port, std::optional<Tls> tls)
    : host_(std::move(host)), port_(port), tls_(std::move(tls)), buffer_(kBufferSize) {}

WireConnection::~WireConnection() { close(); }

void WireConnection::open(Clock::time_point deadline) {
  if (open_) return;
  begin_ = end_ = 0;
  Poco::Net::StreamSocket plain;
  plain.connect(Poco::Net::SocketAddress(host_, port_), timeLeft(deadline));
  plain.setNoDelay(true);
  socket_ = plain;
  if (tls_) openTls(deadline);
  open_ = true;
}

void WireConnection::openTls(Clock::time_point deadline) {
  Poco::Timespan left = timeLeft(deadline);
  socket_.setReceiveTimeout(left);
  socket_.setSendTimeout(left);
  tlsVerifyError.clear();
  Poco::Net::SecureStreamSocket secure;
  try {
    // Sends the host name (SNI) and shakes hands.
    secure = Poco::Net::SecureStreamSocket::attach(socket_, host_, tlsContext(*tls_));
  } catch (const Poco::TimeoutException&) {
    throw;
  } catch (const Poco::Exception& e) {
    std::string cause = tlsVerifyError.empty() ? e.displayText() : "certificate: " + tlsVerifyError;
    throw Failure(EN_FAIL_CONNECT, "TLS handshake failed: " + cause);
  }
  if (tls_->verify && !certificateNames(secure.peerCertificate(), host_)) {
    throw Failure(EN_FAIL_CONNECT,
                  "TLS certificate is not valid for '" + host_ + "' (host name mismatch)");
  }
  socket_ = secure;
}

void WireConnection::close() {
  if (!open_) return;
  open_ = false;
  try {
    socket_.close();
  } catch (const Poco::Exception&) {
    // Closing a broken socket may fail; it is gone either way.
  }
  socket_ = Poco::Net::StreamSocket();
}

void WireConnection::send(const std::string& bytes, Clock::time_point deadline) {
  answerStarted_ = false;
  begin_ = end_ = 0;
  size_t sent = 0;
  while (sent < bytes.size()) {
    socket_.setSendTimeout(timeLeft(deadline));
    int n =
        socket_.sendBytes(bytes.data() + sent, static_cast<int>(bytes.size() - sent), kSendFlags);
    if (n <= 0) throw Poco::Net::ConnectionResetException("send failed");
    sent += static_cast<size_t>(n);
  }
}

size_t WireConnection::fill(Clock::time_point deadline) {
  if (begin_ < end_) return end_ - begin_;
  begin_ = end_ = 0;
  socket_.setReceiveTimeout(timeLeft(deadline));
  int n = 0;
  try {
    n = socket_.receiveBytes(buffer_.data(), static_cast<int>(buffer_.size()));
  } catch (const Poco::Net::SSLConnectionUnexpectedlyClosedException&) {
    n = 0;  // a TLS peer that closes without close_notify: the same as a plain close
  }
  if (n > 0) {
    end_ = static_cast<size_t>(n);
    answerStarted_ = true;
  }
  timeLeft(deadline);  // a read that returned just in time still ends an expired exchange
  return end_;
}

std::string WireConnection::readLine(Clock::time_point deadline, const char* what) {
  std::string line;
  for (;;) {
    if (fill(deadline) == 0) cutShort(std::string("connection closed in the ") + what);
    const char* start = buffer_.data() + begin_;
    const char* newline = static_cast<const char*>(std::memchr(start, '\n', end_ - begin_));
    size_t take = newline ? static_cast<size_t>(newline - start) + 1 : end_ - begin_;
    line.append(start, take);
    begin_ += take;
    if (line.size() > kMaxLine) badlyFramed(std::string(what) + " line too long");
    if (newline) break;
  }
  line.pop_back();
  if (!line.empty() && line.back() == '\r') line.pop_back();
  return line;
}

WireConnection::Head WireConnection::readHead(Clock::time_point deadline) {
  if (fill(deadline) == 0) {
    throw Failure(EN_FAIL_CONNECT, "connection closed without an answer");
  }
  for (;;) {
    Head head;
    parseStatusLine(readLine(deadline, "status line"), head);
    size_t lines = 0;
    for (std::string line = readLine(deadline, "headers"); !line.empty();
         line = readLine(deadline, "headers")) {
      if (++lines > kMaxHeaderLines) badlyFramed("more than 256 header lines");
      addHeader(line, head);
    }
    if (head.status >= 200) {
      readFraming(head);
      return head;
    }
  }
}

void WireConnection::readBody(const Head& head, uint64_t limit, std::string& body,
                              Clock::time_point deadline) {
  body.clear();
  try {
    if (head.chunked) {
      readChunked(limit, body, deadline);
    } else if (head.contentLength >= 0) {
      if (static_cast<uint64_t>(head.contentLength) > limit) tooLarge(limit);
      body.reserve(std::min<size_t>(static_cast<size_t>(head.contentLength), kMaxReserve));
      readExactly(static_cast<uint64_t>(head.contentLength), body, deadline);
    } else {
      readToClose(limit, body, deadline);
    }
  } catch (const Failure& failure) {
    if (failure.code() == ON_MEMORYSHORT) std::string().swap(body);
    close();
    throw;
  }
  if (!head.keepAlive) close();
}

void WireConnection::readExactly(uint64_t count, std::string& body, Clock::time_point deadline) {
  const uint64_t expected = body.size() + count;
  while (count > 0) {
    if (fill(deadline) == 0) {
      cutShort("connection closed after " + std::to_string(expected - count) + " of " +
               std::to_string(expected) + " body bytes");
    }
    size_t take = static_cast<size_t>(std::min<uint64_t>(count, end_ - begin_));
    body.append(buffer_.data() + begin_, take);
    begin_ += take;
    count -= take;
  }
}

void WireConnection::readChunked(uint64_t limit, std::string& body, Clock::time_point deadline) {
  for (;;) {
    std::string line = readLine(deadline, "chunk size");
    std::string size = trimmed(line.substr(0, line.find(';')));
    uint64_t chunk = 0;
    auto [end, ec] = std::from_chars(size.data(), size.data() + size.size(), chunk, 16);
    if (size.empty() || ec != std::errc() || end != size.data() + size.size()) {
      badlyFramed("chunk size '" + line.substr(0, 32) + "' is not hexadecimal");
    }
    if (chunk == 0) break;
    if (chunk > limit - body.size()) tooLarge(limit);
    readExactly(chunk, body, deadline);
    if (!readLine(deadline, "chunk end").empty()) badlyFramed("chunk longer than its size");
  }
  // Trailer fields, up to the empty line that ends the answer.
  for (size_t lines = 0; !readLine(deadline, "trailer").empty();) {
    if (++lines > kMaxHeaderLines) badlyFramed("more than 256 trailer lines");
  }
}

void WireConnection::readToClose(uint64_t limit, std::string& body, Clock::time_point deadline) {
  while (fill(deadline) > 0) {
    appendLimited(buffer_.data() + begin_, end_ - begin_, limit, body);
    begin_ = end_;
  }
}

void WireConnection::appendLimited(const char* data, size_t size, uint64_t limit,
                                   std::string& body) {
  if (size > limit - body.size()) tooLarge(limit);
  body.append(data, size);
}

}  // namespace orvex
