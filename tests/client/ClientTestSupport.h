// Shared fixture and helpers of the client tests: a scripted server, known configuration, a fake
// authentication service and a client started on the server.
#pragma once

#include <gtest/gtest.h>

#include <atomic>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "FakeAuthService.h"
#include "HqHistoryApiTestPeer.h"
#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "ScriptedHttpServer.h"
#include "orvex/HqHistoryApi.h"
#include "orvex/KvHttp.h"

namespace orvex {
namespace test {

// The GBK bytes of the texts the client writes, spelled out independently of the code.
namespace gbk {
inline const std::string kOnlyOneTarget =
    "\xb2\xce\xca\xfd\xb4\xed\xce\xf3,\xbd\xf6\xd6\xa7\xb3\xd6"
    "1\xb8\xf6\xb1\xea\xb5\xc4";
inline const std::string kNoSession = "\xcd\xf8\xc2\xe7\xb6\xd4\xcf\xf3\xb2\xbb\xb4\xe6\xd4\xda";
inline const std::string kLastDataFailed =
    "\xbb\xf1\xc8\xa1\xd7\xee\xd0\xc2\xd2\xbb\xcc\xf5\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
inline const std::string kParseFailed = "\xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
inline const std::string kNoDataParsed = "\xce\xb4\xbd\xe2\xce\xf6\xb5\xbd\xca\xfd\xbe\xdd";
inline const std::string kHistoryFailed =
    "\xbb\xf1\xc8\xa1\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
inline const std::string kPageParseFailed = "getDataByPage \xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
inline const std::string kPageFailed =
    "\xbb\xf1\xc8\xa1\xb7\xd6\xd2\xb3\xc0\xfa\xca\xb7\xca\xfd\xbe\xdd\xca\xa7\xb0\xdc,url=";
inline const std::string kJsonLogPrefix = "getServerName:\xbd\xe2\xce\xf6json\xca\xa7\xb0\xdc,rsp=";
inline const std::string kJsonParseFailed = "json\xbd\xe2\xce\xf6\xca\xa7\xb0\xdc";
}  // namespace gbk

// The captured lines that contain `needle`, compared with every run of non-ASCII bytes (and
// '?') folded to one '?': the log capture may hand GBK text back transcoded.
std::vector<std::string> linesWith(const LogCapture& log, const std::string& needle);

// Lower-case hex digests computed with Poco directly, not with the runtime's helpers.
std::string md5Hex(const std::string& data);
std::string hmacSha256Hex(const std::string& key, const std::string& data);

// A session that counts uses that overlap in time: a session handed to two exchanges at once
// shows up as a violation.
class ExclusiveUseSession : public KvHttp {
 public:
  ExclusiveUseSession(const SessionOptions& options, std::atomic<int>& violations)
      : real_(std::make_unique<KvHttp>(options)), violations_(violations) {}

  ResultStatus getRspHeader(std::string& rsp, HeaderMap& rspHeaders,
                            const std::string& pathAndQuery, const HeaderMap& headers) override {
    Use use(*this);
    return real_->getRspHeader(rsp, rspHeaders, pathAndQuery, headers);
  }
  ResultStatus post(std::string& rsp, const std::string& pathAndQuery, const std::string& body,
                    const HeaderMap& headers) override {
    Use use(*this);
    return real_->post(rsp, pathAndQuery, body, headers);
  }

 private:
  struct Use {
    explicit Use(ExclusiveUseSession& s) : session(s) {
      if (session.inUse_.exchange(true)) ++session.violations_;
    }
    ~Use() { session.inUse_ = false; }
    ExclusiveUseSession& session;
  };

  std::unique_ptr<KvHttp> real_;
  std::atomic<int>& violations_;
  std::atomic<bool> inUse_{false};
};

// A session whose every exchange throws.
class ThrowingSession : public KvHttp {
 public:
  ResultStatus getRspHeader(std::string&, HeaderMap&, const std::string&,
                            const HeaderMap&) override {
    throw std::runtime_error("session broke");
  }
  ResultStatus post(std::string&, const std::string&, const std::string&,
                    const HeaderMap&) override {
    throw std::runtime_error("session broke");
  }
};

class ClientTest : public ::testing::Test {
 protected:
  // Starts the client on the scripted server and forgets the start-up requests.
  void start() {
    std::string initTime;
    ResultStatus status = api.init(server.url(), initTime, 4);
    ASSERT_TRUE(status.ok()) << status.toString();
    server.clear();
  }

  ScriptedHttpServer server;
  ScopedEnvironment env{{"user", "u1"},
                        {"product", "abc"},
                        {"product_number", "7"},
                        {"kvmacaddress", "m1"},
                        {"version", "v9"}};
  std::shared_ptr<FakeAuthService> auth = std::make_shared<FakeAuthService>("tok-1");
  ScopedAuthService installedAuth{auth};
  HqHistoryApi api;
  HqHistoryApiTestPeer peer{api};
};

}  // namespace test
}  // namespace orvex
