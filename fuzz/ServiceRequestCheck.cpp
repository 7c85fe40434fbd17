// Properties of the local service's request handling on an arbitrary request: the first line is
// the request target ("/QryLast?codes=A&types=k"), every further line a header "Name: value".
#include <Poco/Exception.h>
#include <Poco/Net/NameValueCollection.h>
#include <Poco/URI.h>

#include <algorithm>
#include <charconv>
#include <memory>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "hqserver/DataStore.h"
#include "hqserver/FaultInjector.h"
#include "hqserver/QueryService.h"
#include "hqserver/RequestAuthenticator.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace fuzz {

namespace {

const char kToken[] = "fuzz-token-7f3a";
const char kSecret[] = "fuzz-secret-91c2";

// Two keys over three targets, with shared times and out-of-order modification times, so that
// every endpoint has something to select and page through.
std::shared_ptr<const hqserver::DataStore> makeStore() {
  auto store = std::make_shared<hqserver::DataStore>();
  for (const char* target : {"A", "B", "C.x"}) {
    for (int64_t t = 0; t < 40; ++t) {
      store->add(target, "k", t * 10, 1000 - t * 3, 1.25 * static_cast<double>(t),
                 "r" + std::to_string(t) + ",x");
      if (t % 7 == 0) store->add(target, "k", t * 10, 2000 + t, -0.5, "dup");
    }
    store->add(target, "m", 5, 5, 0, "");
  }
  store->seal();
  return store;
}

const hqserver::QueryService& service() {
  static const hqserver::QueryService instance(makeStore(), 7, "fuzz");
  return instance;
}

struct Request {
  std::string target;
  Poco::Net::NameValueCollection headers;
};

Request splitRequest(const std::string& text) {
  Request request;
  size_t start = 0;
  bool first = true;
  while (start <= text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    if (first) {
      request.target = line;
      first = false;
    } else if (size_t colon = line.find(':'); colon != std::string::npos) {
      size_t value = line.find_first_not_of(' ', colon + 1);
      request.headers.add(line.substr(0, colon),
                          value == std::string::npos ? "" : line.substr(value));
    }
    start = end + 1;
  }
  return request;
}

bool isInteger(const std::string& text) {
  int64_t value = 0;
  auto result = std::from_chars(text.data(), text.data() + text.size(), value);
  return !text.empty() && result.ec == std::errc() && result.ptr == text.data() + text.size();
}

std::string checkRecordAnswer(const std::string& path, const hqserver::Answer& answer) {
  if (path == "/QryCodeType") {
    std::vector<TopicBody> bodies;
    if (!TopicUtils::basicRec2TopicBodys(answer.body, bodies)) return "unreadable range answer";
    if (bodies.size() > static_cast<size_t>(hqserver::QueryService::kMaxCount)) {
      return "range answer above the cap";
    }
    for (size_t i = 1; i < bodies.size(); ++i) {
      if (bodies[i - 1].time > bodies[i].time) return "range answer out of time order";
    }
    return "";
  }
  std::vector<CloudTopic> topics;
  if (!TopicUtils::basicRec2Topics(answer.body, "k", topics)) return "unreadable topic answer";
  if (path != "/QryPageTgtDetailV2") return "";
  size_t records = 0;
  for (const CloudTopic& topic : topics) records += topic.bodies.size();
  if (records > static_cast<size_t>(service().pageSize())) return "page larger than the page size";
  if (answer.headers.size() != 4) return "page answer without its four paging headers";
  for (const auto& [name, value] : answer.headers) {
    if (name == "islast" ? value != "true" && value != "false" : !isInteger(value)) {
      return "unreadable paging header " + name;
    }
  }
  return "";
}

std::string checkAnswer(const std::string& path, const Poco::URI::QueryParameters& params) {
  hqserver::Answer answer;
  try {
    answer = service().handle(path, params);
  } catch (...) {
    return "an exception escaped the query service";
  }
  if (answer.status == 404) {
    return hqserver::QueryService::knows(path) ? "a known endpoint answered 404" : "";
  }
  if (answer.status == 400) {
    return !answer.body.empty() && answer.body.back() == '\n' ? "" : "a 400 without its message";
  }
  if (answer.status != 200) return "an answer other than 200, 400 and 404";
  if (path == "/QryLast" || path == "/QryCodeType" || path == "/QryPageTgtDetailV2") {
    return checkRecordAnswer(path, answer);
  }
  return "";
}

std::string checkAuthentication(const Poco::URI& uri, const Request& request) {
  hqserver::AuthConfig config{kToken, "fuzz-key", kSecret};
  const hqserver::RequestAuthenticator auth(config, [] { return int64_t{1717372800000}; });
  hqserver::AuthResult result;
  try {
    hqserver::RequestAuthenticator::stringToSign("GET", uri, request.headers);
    result = auth.check("GET", uri, request.headers, "");
  } catch (const Poco::Exception&) {
    return "";  // the handler answers 500 to what the authenticator cannot read
  }
  if (result.status != 200 && result.status != 401 && result.status != 403) {
    return "an access answer other than 200, 401 and 403";
  }
  if (result.message.find(kToken) != std::string::npos ||
      result.message.find(kSecret) != std::string::npos) {
    return "an access answer shows the token or the secret";
  }
  return "";
}

std::string checkFaultRule(const std::string& text) {
  std::string error;
  auto rule = hqserver::FaultRule::parse(text, error);
  if (!rule) return error.empty() ? "a refused fault rule without a reason" : "";
  auto again = hqserver::FaultRule::parse(rule->toString(), error);
  if (!again || again->toString() != rule->toString()) return "a fault rule does not write back";
  return "";
}

}  // namespace

std::string checkServiceRequest(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const Request request = splitRequest(text);

  std::string broken = checkFaultRule(request.target);
  if (!broken.empty()) return broken;

  Poco::URI uri;
  Poco::URI::QueryParameters params;
  try {
    uri = Poco::URI(request.target);
    params = uri.getQueryParameters();
  } catch (const Poco::Exception&) {
    return "";  // answered 400 "malformed request URI"
  }
  broken = checkAnswer(uri.getPath(), params);
  return broken.empty() ? checkAuthentication(uri, request) : broken;
}

}  // namespace fuzz
}  // namespace orvex
