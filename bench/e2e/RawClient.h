// The raw transport floor: the plug-in's sequence of GET requests written directly on one
// keep-alive Poco::Net::HTTPClientSession, with the same URLs, the same body reading and the
// same record parsing (orvex::TopicUtils), and nothing else: no signature, no identification
// headers, no token, no pools, no logging.
//
// Not thread-safe: one client per thread. No exception leaves it; failures end the run and are
// reported in RunResult::error.
#pragma once

#include <Poco/Net/HTTPClientSession.h>
#include <Poco/Net/HTTPResponse.h>

#include <cstdint>
#include <string>
#include <vector>

#include "Queries.h"

namespace orvex {
namespace bench {

class RawClient {
 public:
  RawClient(const std::string& host, uint16_t port);

  // "/QryCodeType" steps of at most 1000 records, walking back from the end, with the range
  // driver's stop rules. `seconds` is left to the caller.
  RunResult range(const RangeQuery& query);
  // "/QryPageTgtDetailV2" pages until the service marks the last.
  RunResult pages(const PageQuery& query);
  // "/QryLast" in batches of 500 targets, the records of all batches collected in one list.
  RunResult lastData(const std::string& key, const std::vector<std::string>& targets);

  RawClient(const RawClient&) = delete;
  RawClient& operator=(const RawClient&) = delete;

 private:
  // GET `pathAndQuery` into `body`; false with `error` set unless the answer is 200.
  bool get(const std::string& pathAndQuery, std::string& body, std::string& error);
  void readBody(std::istream& in, std::string& body);

  Poco::Net::HTTPClientSession session_;
  Poco::Net::HTTPResponse response_;
};

}  // namespace bench
}  // namespace orvex
