// The request log: one JSON object per line for every request the service answers.
//
//   {"time":"2024-06-03T01:30:00.123Z","method":"GET","uri":"/QryLast?codes=a%2C&types=tick",
//    "headers":{"Date":"...","kvauth":"***"},"status":200,"bytes":42,"fault":"close"}
//
// "bytes" is the body length; "fault" appears only when a fault was injected (a closed connection
// has status 0). The values of "kvauth" and "Authorization" (names compared without case) are
// written as "***", or as "" when they were empty. Bytes outside printable ASCII are written as
// \u00XX escapes, one per byte, so every line is valid JSON whatever the request held.
//
// Thread-safe: lines from concurrent requests never interleave.
#pragma once

#include <Poco/Net/NameValueCollection.h>

#include <cstddef>
#include <fstream>
#include <memory>
#include <mutex>
#include <string>

namespace orvex {
namespace hqserver {

class RequestLog {
 public:
  // Opens `path` for appending; nullptr with `error` set when it cannot be opened.
  static std::unique_ptr<RequestLog> open(const std::string& path, std::string& error);
  RequestLog(const RequestLog&) = delete;
  RequestLog& operator=(const RequestLog&) = delete;

  void write(const std::string& method, const std::string& uri,
             const Poco::Net::NameValueCollection& headers, int status, size_t bytes,
             const std::string& fault);

  // The line write() appends, without its "\n"; `timeMs` is milliseconds since 1970, UTC.
  static std::string format(int64_t timeMs, const std::string& method, const std::string& uri,
                            const Poco::Net::NameValueCollection& headers, int status, size_t bytes,
                            const std::string& fault);

 private:
  explicit RequestLog(std::ofstream out);

  std::mutex mutex_;
  std::ofstream out_;
};

}  // namespace hqserver
}  // namespace orvex
