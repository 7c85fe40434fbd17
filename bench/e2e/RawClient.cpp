#include "RawClient.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequest.h>
#include <Poco/URI.h>

#include <algorithm>
#include <istream>
#include <limits>

#include "orvex/Records.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace bench {

namespace {

constexpr int64_t kStepSize = 1000;
constexpr size_t kLastDataBatch = 500;
constexpr std::streamsize kReadChunk = 16 * 1024;

}  // namespace

RawClient::RawClient(const std::string& host, uint16_t port) : session_(host, port) {
  session_.setKeepAlive(true);
}

RunResult RawClient::range(const RangeQuery& query) {
  RunResult result;
  std::string body;
  int64_t total = 0;
  int64_t cursor = query.endTime;
  for (;;) {
    const int64_t count = std::min<int64_t>(query.maxCount - total, kStepSize);
    Poco::URI uri;
    uri.setPath("/QryCodeType");
    uri.addQueryParameter("types", query.key);
    uri.addQueryParameter("codes", query.target);
    uri.addQueryParameter("count", std::to_string(count));
    uri.addQueryParameter("beginTime", std::to_string(query.beginTime));
    uri.addQueryParameter("endTime", std::to_string(cursor));
    if (!get(uri.getPathAndQuery(), body, result.error)) return result;
    ++result.requests;

    CloudTopic topic{query.target, query.key, {}};
    if (!TopicUtils::basicRec2TopicBodys(body, topic.bodies)) {
      result.error = "unreadable answer to " + uri.getPathAndQuery();
      return result;
    }
    const int64_t n = static_cast<int64_t>(topic.bodies.size());
    result.records += n;
    if (n == 0 || n < count) break;
    total += n;
    if (total >= query.maxCount || topic.bodies.front().time <= query.beginTime) break;
    cursor = topic.bodies.front().time - 1;
  }
  result.complete = true;
  return result;
}

RunResult RawClient::pages(const PageQuery& query) {
  RunResult result;
  std::string body;
  int32_t page = 0;
  int64_t relationMtm = 0;
  for (;;) {
    Poco::URI uri;
    uri.setPath("/QryPageTgtDetailV2");
    uri.addQueryParameter("type", query.key);
    uri.addQueryParameter("tgt", query.target);
    uri.addQueryParameter("endTime", std::to_string(std::numeric_limits<int64_t>::max()));
    uri.addQueryParameter("beginm", std::to_string(query.beginMtm));
    uri.addQueryParameter("endm", std::to_string(query.endMtm));
    uri.addQueryParameter("datamtm", std::to_string(relationMtm));
    uri.addQueryParameter("page", std::to_string(page));
    if (!get(uri.getPathAndQuery(), body, result.error)) return result;
    ++result.requests;

    std::vector<CloudTopic> topics;
    int64_t maxTime = 0;
    if (!TopicUtils::tgtTopicRaw2Topics(query.key, body, topics, maxTime)) {
      result.error = "unreadable answer to " + uri.getPathAndQuery();
      return result;
    }
    for (const CloudTopic& topic : topics) result.records += topic.bodies.size();
    if (page == 0) relationMtm = std::stoll(response_.get("relationmtm", "0"));
    page = std::stoi(response_.get("page", "0"));
    if (response_.get("islast", "") == "true") break;
  }
  result.complete = true;
  return result;
}

RunResult RawClient::lastData(const std::string& key, const std::vector<std::string>& targets) {
  RunResult result;
  std::string body;
  std::vector<CloudTopic> topics;  // one list for all batches, as the host receives them
  for (size_t first = 0; first < targets.size(); first += kLastDataBatch) {
    std::string codes;
    for (size_t i = first; i < std::min(targets.size(), first + kLastDataBatch); ++i) {
      codes.append(targets[i]).append(",");
    }
    Poco::URI uri;
    uri.setPath("/QryLast");
    uri.addQueryParameter("codes", codes);
    uri.addQueryParameter("types", key);
    if (!get(uri.getPathAndQuery(), body, result.error)) return result;
    ++result.requests;

    if (!TopicUtils::basicRec2Topics(body, key, topics)) {
      result.error = "unreadable answer to " + uri.getPathAndQuery();
      return result;
    }
  }
  result.records = topics.size();
  result.complete = true;
  return result;
}

bool RawClient::get(const std::string& pathAndQuery, std::string& body, std::string& error) {
  try {
    Poco::Net::HTTPRequest request(Poco::Net::HTTPRequest::HTTP_GET, pathAndQuery,
                                   Poco::Net::HTTPMessage::HTTP_1_1);
    session_.sendRequest(request);
    std::istream& in = session_.receiveResponse(response_);
    readBody(in, body);
  } catch (const Poco::Exception& e) {
    error = "GET " + pathAndQuery + ": " + e.displayText();
    return false;
  }
  if (response_.getStatus() != Poco::Net::HTTPResponse::HTTP_OK) {
    error = "GET " + pathAndQuery + ": HTTP " + std::to_string(response_.getStatus());
    return false;
  }
  return true;
}

// As the runtime's session reads a body: sized by Content-Length, read in one go.
void RawClient::readBody(std::istream& in, std::string& body) {
  std::streambuf* source = in.rdbuf();
  const int64_t expected = response_.getContentLength64();
  const bool known = expected != Poco::Net::HTTPMessage::UNKNOWN_CONTENT_LENGTH;
  body.resize(known && expected > 0 ? static_cast<size_t>(expected) : 0);
  size_t used = 0;
  for (;;) {
    if (known && static_cast<int64_t>(used) >= expected) break;
    if (used == body.size()) body.resize(std::max(body.size() * 2, used + kReadChunk));
    const std::streamsize got =
        source->sgetn(&body[used], static_cast<std::streamsize>(body.size() - used));
    if (got <= 0) break;
    used += static_cast<size_t>(got);
  }
  body.resize(used);
}

}  // namespace bench
}  // namespace orvex
