// One client connection of KvHttp, plain TCP or TLS, that reads HTTP/1.1 answers with strict
// framing and bounds every step by the deadline of the exchange it serves.
//
// The time left is set on the socket before each connect, read and write, so a server that
// answers slowly or drips bytes cannot stretch an exchange past its deadline; this needs no
// watchdog thread per session, which matters in the host's 32-bit process. Failures are thrown:
// WireConnection::Failure for framing, size and certificate faults, Poco exceptions for the
// transport (Poco::TimeoutException once the deadline has passed). Not thread-safe: one exchange
// at a time, as the session pool hands it out.
#pragma once

#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "orvex/Records.h"

namespace orvex {

class WireConnection {
 public:
  using Clock = std::chrono::steady_clock;

  // How a TLS connection checks the server: against the system's CAs plus `caFile` (a PEM file,
  // may be empty), with the host name checked, unless `verify` is false.
  struct Tls {
    std::string caFile;
    bool verify = true;
  };

  // The status line and headers of an answer. Header names are lower case; a repeated header
  // keeps every value, joined by ", " in arrival order.
  struct Head {
    int status = 0;
    std::string reason;
    HeaderMap headers;
    int64_t contentLength = -1;  // -1: not declared
    bool chunked = false;
    bool keepAlive = true;  // the connection may carry another exchange after this one
  };

  // A fault that is not the transport's: `code` is the ResultStatus code it stands for.
  class Failure : public std::runtime_error {
   public:
    Failure(int32_t code, const std::string& message) : std::runtime_error(message), code_(code) {}
    int32_t code() const { return code_; }

   private:
    int32_t code_;
  };

  // A connection to `host`:`port`, TLS when `tls` is set; it connects on open().
  WireConnection(std::string host, uint16_t port, std::optional<Tls> tls);
  ~WireConnection();
  WireConnection(const WireConnection&) = delete;
  WireConnection& operator=(const WireConnection&) = delete;

  // Connects, and for TLS shakes hands and checks the certificate, unless already open.
  void open(Clock::time_point deadline);
  bool isOpen() const { return open_; }
  // Closes the connection; the next open() makes a new one. Never throws.
  void close();

  // Sends all of `bytes`.
  void send(const std::string& bytes, Clock::time_point deadline);
  // Reads the status line and headers of the next answer, skipping interim (1xx) answers.
  Head readHead(Clock::time_point deadline);
  // Reads the body that `head` frames into `body`: Content-Length bytes, chunks up to the final
  // one, or everything until the server closes. More than `limit` bytes fail at once and free
  // what was read. A body cut short or badly framed fails; the connection is then closed.
  void readBody(const Head& head, uint64_t limit, std::string& body, Clock::time_point deadline);
  // Whether any byte of an answer arrived since the last send().
  bool answerStarted() const { return answerStarted_; }

 private:
  void openTls(Clock::time_point deadline);
  size_t fill(Clock::time_point deadline);
  std::string readLine(Clock::time_point deadline, const char* what);
  void readExactly(uint64_t count, std::string& body, Clock::time_point deadline);
  void readChunked(uint64_t limit, std::string& body, Clock::time_point deadline);
  void readToClose(uint64_t limit, std::string& body, Clock::time_point deadline);
  void appendLimited(const char* data, size_t size, uint64_t limit, std::string& body);

  const std::string host_;
  const uint16_t port_;
  const std::optional<Tls> tls_;
  Poco::Net::StreamSocket socket_;
  bool open_ = false;
  bool answerStarted_ = false;
  std::vector<char> buffer_;
  size_t begin_ = 0;  // unread bytes of buffer_ are [begin_, end_)
  size_t end_ = 0;
};

}  // namespace orvex
