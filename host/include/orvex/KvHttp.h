// One keep-alive HTTP/1.1 session of the common runtime library, plain or TLS (Poco NetSSL).
//
// A session is used by one caller at a time (the pool hands it out exclusively); it is not
// thread-safe. No exception leaves it: every outcome is a ResultStatus.
//
// Outcome mapping:
//   2xx, the answer complete                 -> OK
//   no complete answer by the deadline       -> TIMEOUT
//   HTTP 401                                 -> EN_TokenErr
//   HTTP 403                                 -> EN_FORBIDDEN
//   connection refused, reset or closed      -> EN_FAIL_CONNECT, message says which
//   an answer cut short: fewer body bytes    -> EN_FAIL_CONNECT, "answer cut short: ..."
//     than Content-Length, or the connection
//     closed before the final chunk
//   a badly framed answer: status or header  -> EN_MAIN_SERVICE_ERROR, "badly framed answer: ..."
//     line, chunk size, Content-Length or
//     gzip data that cannot be read
//   a body (or its inflated form) larger     -> ON_MEMORYSHORT; what was read is freed at once
//     than "Max-Body-Size"
//   a TLS handshake or certificate failure   -> EN_FAIL_CONNECT, the message names the cause
//   any other HTTP status                    -> EN_MAIN_SERVICE_ERROR, "HTTP <status> <reason>"
//   any other transport failure              -> NATIVE_ERR with the failure's text
//   a header or path with a line break       -> INVALID_PARAM, nothing sent
// An answer is complete only when HTTP says so: Content-Length reached, the final chunk read, or
// the connection closed on an answer that declared neither.
// On an HTTP failure the body (and for getRspHeader the headers) are still filled.
// Options that cannot make a session make every request fail at once: a missing or unparsable
// "Host" gives INVALID_FRONTADDRESS, a scheme other than "http" and "https" NOT_SUPPORT, an
// option of the wrong type INVALID_PARAM.
//
// Deadline: the header "Request-Timeout" (milliseconds, clamped to 2^31-1; 60 s when absent or
// not positive) is sent and bounds the whole exchange: connect, TLS handshake, sending, status
// line, headers and body. The time left is set on the socket before every read and write, so a
// server that drips bytes cannot stretch it; an exchange that runs out is closed, never reused.
// A kept-alive connection that the server closed while idle is reopened once, transparently: only
// when the request went out on a reused connection and no answer had begun; never after a
// time-out.
//
// Addresses: "http://host[:port][/path]" or "https://...". A path in the address goes before
// every request's path: with "http://h:8080/base", "/QryLast?..." is sent as "/base/QryLast?...".
//
// Configuration keys (vantor::Environment, read when a session is made):
//   tls_ca_file   a PEM file of CAs trusted besides the system's store (default none)
//   tls_verify    "false" turns certificate and host-name checks off, with a WARN line on the
//                 "HttpSession" logger at every connect (default true)
//   http_gzip     "false" stops asking for gzip (default true: "Accept-Encoding: gzip" is sent
//                 and gzip answers are inflated)
#pragma once

#include <boost/any.hpp>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "orvex/Export.h"
#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

// Session options, as given to HttpSessionPool::addSession.
//   "Host"       std::string   the service address, for example "http://127.0.0.1:8080"
//   "Keep-Alive" OptKeepAlive  idle time in milliseconds after which a connection is reopened
//   "Record-Log" bool          log each exchange (method, path, status, body size) at DEBUG on
//                              the "HttpSession" logger; header values are never logged
//   "Max-Body-Size" int64_t    largest answer body accepted, in bytes, also after inflating
//                              (default 64 MiB)
using SessionOptions = std::map<std::string, boost::any>;

struct OptKeepAlive {
  int64_t value = 0;
};

class ORVEX_RUNTIME_API KvHttp {
 public:
  // A session for `options`; it connects lazily on the first request.
  explicit KvHttp(const SessionOptions& options);
  virtual ~KvHttp();  // slot 0

  // slot 1: GET without response headers.
  virtual ResultStatus get(std::string& rsp, const std::string& pathAndQuery,
                           const HeaderMap& headers);
  // slot 2 (third): GET; fills the body and the response headers. Header names are lower case
  // however the server wrote them; a repeated header keeps every value, joined by ", ".
  virtual ResultStatus getRspHeader(std::string& rsp, HeaderMap& rspHeaders,
                                    const std::string& pathAndQuery, const HeaderMap& headers);
  // slot 3 (fourth): POST of `body`; fills the response body.
  virtual ResultStatus post(std::string& rsp, const std::string& pathAndQuery,
                            const std::string& body, const HeaderMap& headers);

  KvHttp(const KvHttp&) = delete;
  KvHttp& operator=(const KvHttp&) = delete;

 protected:
  // For test doubles that do not talk to a server: the base operations then give NOT_SUPPORT.
  // Defined out of line, where the private part is complete.
  KvHttp();

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace orvex
