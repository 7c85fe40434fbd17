// A blocking HTTP GET for the service tests, on a session the caller may reuse (keep-alive).
#pragma once

#include <Poco/Net/HTTPClientSession.h>

#include <map>
#include <string>

namespace orvex {
namespace test {

struct Fetched {
  int status = 0;
  std::map<std::string, std::string> headers;  // names as sent
  std::string body;

  std::string header(const std::string& name) const {
    auto it = headers.find(name);
    return it == headers.end() ? std::string() : it->second;
  }
};

// Sends GET `pathAndQuery` with `headers` on `session`. Poco exceptions (time-out, connection
// closed) pass to the caller: some tests expect them.
Fetched httpGet(Poco::Net::HTTPClientSession& session, const std::string& pathAndQuery,
                const std::map<std::string, std::string>& headers = {});
// The same on a fresh session to 127.0.0.1:`port`.
Fetched httpGet(unsigned short port, const std::string& pathAndQuery,
                const std::map<std::string, std::string>& headers = {});

}  // namespace test
}  // namespace orvex
