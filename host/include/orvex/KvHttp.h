// One keep-alive HTTP session of the common runtime library, over Poco::Net::HTTPClientSession.
//
// A session is used by one caller at a time (the pool hands it out exclusively); it is not
// thread-safe. No exception leaves it: every outcome is a ResultStatus.
//
// Outcome mapping:
//   2xx                                  -> OK
//   connect or receive time-out          -> TIMEOUT
//   HTTP 401                             -> EN_TokenErr
//   HTTP 403                             -> EN_FORBIDDEN
//   connection refused, reset or closed  -> EN_FAIL_CONNECT, message says which
//   a body shorter than Content-Length   -> EN_FAIL_CONNECT
//   any other HTTP status                -> EN_MAIN_SERVICE_ERROR, "HTTP <status> <reason>"
//   any other transport failure          -> NATIVE_ERR with the failure's text
//   a header or path with a line break   -> INVALID_PARAM, nothing sent
// On an HTTP failure the body (and for getRspHeader the headers) are still filled.
// Options that cannot make a session make every request fail at once: a missing or unparsable
// "Host" gives INVALID_FRONTADDRESS, a scheme other than "http" NOT_SUPPORT, an option of the
// wrong type INVALID_PARAM.
// The header "Request-Timeout" (milliseconds), when present and positive, is sent and also used
// as the connect and receive time-out of that request (otherwise 60 s). A kept-alive connection
// that the server closed while idle is reopened once, transparently: only when the request went
// out on a reused connection and no response had begun; never after a time-out.
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
  // slot 2 (third): GET; fills the body and the response headers, names as the server sent them.
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
