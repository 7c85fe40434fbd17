// Shared pieces of the driver tests: a wrapper connected to a scripted service, record texts in
// the service's line formats, and a callback that keeps every batch.
#pragma once

#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "HistoryWrapperTestPeer.h"
#include "ScriptedHttpServer.h"

namespace marketdata {

// Body lines ("time,value,data") for the times first, first+1, ..., last.
inline std::string bodyLines(int64_t first, int64_t last) {
  std::string text;
  for (int64_t t = first; t <= last; ++t) {
    text += std::to_string(t);
    text += ",1.5,d";
    text += std::to_string(t);
    text += '\n';
  }
  return text;
}

// Topic lines ("target,time,value,data") of one target.
inline std::string topicLines(const std::string& target, int64_t first, int64_t last) {
  std::string text;
  for (int64_t t = first; t <= last; ++t) {
    text += target + "," + std::to_string(t) + ",2.5,p\n";
  }
  return text;
}

// The decoded value of query parameter `name`, or "<absent>".
inline std::string param(const orvex::test::RecordedRequest& request, const std::string& name) {
  for (const auto& entry : Poco::URI("/?" + request.query).getQueryParameters()) {
    if (entry.first == name) return entry.second;
  }
  return "<absent>";
}

// One call of a HistoryDataCallback.
struct Batch {
  int64_t mtmValue = 0;
  std::vector<orvex::CloudTopic> topics;
  orvex::ResultStatus status;
  bool isLast = false;

  size_t bodyCount() const { return topics.empty() ? 0 : topics.front().bodies.size(); }
};

class ConnectedWrapperTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_EQ(wrapper.connect(server.url()).code, orvex::OK); }

  // A callback that keeps every batch in `batches` and runs `after` (if set) after each one.
  HistoryDataCallback recorder() {
    return [this](int64_t mtm, const std::vector<orvex::CloudTopic>& topics,
                  const orvex::ResultStatus& status, bool isLast) {
      batches.push_back(Batch{mtm, topics, status, isLast});
      if (after) after();
    };
  }

  orvex::ResultStatus range(const orvex::TopicReq& req, int32_t maxSteps = 32767,
                            int32_t requestId = 7) {
    return HistoryWrapperTestPeer::reqDataByRange(wrapper, req, requestId, recorder(), maxSteps,
                                                  cancel);
  }
  orvex::ResultStatus page(const orvex::TopicReq& req, int32_t maxSteps = 32767,
                           int32_t requestId = 5) {
    return HistoryWrapperTestPeer::reqDataByPage(wrapper, req, requestId, recorder(), maxSteps,
                                                 cancel);
  }

  orvex::test::ScriptedHttpServer server;
  HistoryWrapper wrapper;
  std::vector<Batch> batches;
  std::function<void()> after;
  bool cancel = false;
};

}  // namespace marketdata
