// KvHttp against real HTTP servers on 127.0.0.1: outcome mapping, time-outs, recovery of a
// closed kept-alive connection, option checks and the exchange log.
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <thread>

#include "LogCapture.h"
#include "ScriptedHttpServer.h"
#include "orvex/KvHttp.h"

namespace orvex {
namespace {

using test::ScriptedAnswer;
using ::testing::AllOf;
using ::testing::HasSubstr;
using ::testing::Not;

SessionOptions optionsFor(const std::string& host, bool recordLog = false) {
  return {{"Host", host}, {"Keep-Alive", OptKeepAlive{30000}}, {"Record-Log", recordLog}};
}

class KvHttpTest : public ::testing::Test {
 protected:
  test::ScriptedHttpServer server_;
  KvHttp session_{optionsFor(server_.url(), /*recordLog=*/true)};
  std::string rsp_;
  HeaderMap rspHeaders_;
};

TEST_F(KvHttpTest, StatusesMapToCodesAndExchangesAreLoggedWithoutSecrets) {
  test::LogCapture capture(log4cxx::Level::getDebug(), "HttpSession");
  struct Case {
    int http;
    int32_t code;
    const char* msg;
  };
  for (const Case& c : {Case{200, OK, ""}, Case{401, EN_TokenErr, "HTTP 401 Unauthorized"},
                        Case{403, EN_FORBIDDEN, "HTTP 403 Forbidden"},
                        Case{500, EN_MAIN_SERVICE_ERROR, "HTTP 500 Internal Server Error"}}) {
    SCOPED_TRACE(c.http);
    server_.script("/s", ScriptedAnswer::withStatus(c.http, "body").header("X-Mixed-Case", "V"));
    ResultStatus status = session_.getRspHeader(
        rsp_, rspHeaders_, "/s?a=1", {{"Authorization", "secret"}, {"Request-Timeout", "5000"}});
    EXPECT_EQ(status.code, c.code);
    EXPECT_EQ(status.msg, c.msg);
    EXPECT_EQ(rsp_, "body");
    EXPECT_EQ(rspHeaders_["X-Mixed-Case"], "V");  // names as the server sent them
    EXPECT_EQ(server_.requests().back().header("Authorization"), "secret");
    EXPECT_EQ(server_.requests().back().header("Request-Timeout"), "5000");
    EXPECT_THAT(capture.lines().back(),
                AllOf(HasSubstr("GET /s?a=1"), HasSubstr("4 bytes"),
                      HasSubstr(std::to_string(c.http)), Not(HasSubstr("secret"))));
  }
  EXPECT_EQ(capture.lines().size(), 4u);  // one per exchange
  // A header that would smuggle in another is refused unsent, without echoing its value.
  ResultStatus status = session_.get(rsp_, "/never", {{"X-Token", "secret\r\nX-Evil: 1"}});
  EXPECT_EQ(status.code, INVALID_PARAM);
  EXPECT_THAT(status.msg, Not(HasSubstr("secret")));
  EXPECT_TRUE(server_.requestsTo("/never").empty());
}

TEST_F(KvHttpTest, OnlyARequestLostWithAClosedKeptAliveConnectionIsResent) {
  server_.setDefaultAnswer(ScriptedAnswer::ok("hello"));
  ASSERT_TRUE(session_.get(rsp_, "/", {}).ok());  // opens the connection that is then reused
  server_.script("/", ScriptedAnswer::dropConnection());
  ResultStatus status = session_.get(rsp_, "/", {});
  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(rsp_, "hello");
  server_.script("/", ScriptedAnswer::dropConnection());
  const std::string body(200000, 'p');
  status = session_.post(rsp_, "/", body, {});
  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(server_.requests().back().body, body);
  // The retry is the only one: a connection just opened that fails is final.
  server_.script("/", ScriptedAnswer::dropConnection());
  server_.script("/", ScriptedAnswer::dropConnection());
  EXPECT_EQ(session_.get(rsp_, "/", {}).code, EN_FAIL_CONNECT);
  EXPECT_EQ(server_.requestsTo("/").size(), 7u);

  // A time-out is not resent, and its late answer is not taken for the next request's.
  server_.script("/slow", ScriptedAnswer::ok("slow").after(std::chrono::milliseconds(1000)));
  status = session_.get(rsp_, "/slow", {{"Request-Timeout", "200"}});
  EXPECT_EQ(status.code, TIMEOUT) << status.toString();
  ASSERT_TRUE(session_.get(rsp_, "/", {}).ok());
  EXPECT_EQ(rsp_, "hello");
  EXPECT_EQ(server_.requestsTo("/slow").size(), 1u);
}

TEST(KvHttpOptions, RefusedConnectionAndBadOptionsGiveAStatusNamingTheCause) {
  uint16_t port;  // one that nothing listens on
  {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    port = socket.address().port();
  }
  const std::string host = "http://127.0.0.1:1";  // never reached
  struct Case {
    SessionOptions options;
    int32_t code;
    std::string cause;
  };
  const Case cases[] = {
      {optionsFor("http://127.0.0.1:" + std::to_string(port)), EN_FAIL_CONNECT, "refused"},
      {optionsFor("https://127.0.0.1:1"), NOT_SUPPORT, "https"},
      {optionsFor("127.0.0.1:8080"), INVALID_FRONTADDRESS, "127.0.0.1:8080"},
      {optionsFor("http://"), INVALID_FRONTADDRESS, "http://"},
      {optionsFor("http://[::1"), INVALID_FRONTADDRESS, "[::1"},
      {{{"Keep-Alive", OptKeepAlive{1}}}, INVALID_FRONTADDRESS, "Host"},
      {{{"Host", host}, {"Keep-Alive", 30000}}, INVALID_PARAM, "Keep-Alive"},
      {{{"Host", host}, {"Record-Log", 1}}, INVALID_PARAM, "Record-Log"},
  };
  for (const Case& c : cases) {
    KvHttp session(c.options);
    std::string rsp;
    HeaderMap rspHeaders;
    ResultStatus status = session.getRspHeader(rsp, rspHeaders, "/", {{"Request-Timeout", "2000"}});
    EXPECT_EQ(status.code, c.code) << status.toString();
    EXPECT_THAT(status.msg, HasSubstr(c.cause));
    EXPECT_EQ(session.post(rsp, "/", "body", {}).code, c.code) << c.cause;
  }
}

TEST(KvHttpTransfer, BodyCutShortIsAFailure) {
  Poco::Net::ServerSocket listener(Poco::Net::SocketAddress("127.0.0.1", 0));
  std::thread peer([&listener] {
    Poco::Net::StreamSocket socket = listener.acceptConnection();
    char request[4096];
    socket.receiveBytes(request, sizeof request);
    const std::string answer = "HTTP/1.1 200 OK\r\nContent-Length: 100\r\n\r\n0123456789";
    socket.sendBytes(answer.data(), static_cast<int>(answer.size()));
  });
  std::string rsp;
  ResultStatus status = KvHttp(optionsFor(listener.address().toString().insert(0, "http://")))
                            .get(rsp, "/", {{"Request-Timeout", "5000"}});
  peer.join();
  EXPECT_EQ(status.code, EN_FAIL_CONNECT);
  EXPECT_THAT(status.msg, HasSubstr("10 of 100"));
}

}  // namespace
}  // namespace orvex
