// KvHttp against a real Poco HTTPServer on 127.0.0.1: outcome mapping, time-outs, keep-alive
// recovery, option checks and the exchange log.
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/StreamCopier.h>
#include <Poco/URI.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <chrono>
#include <map>
#include <mutex>
#include <thread>

#include "LogCapture.h"
#include "orvex/KvHttp.h"

namespace orvex {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

// What the server saw, shared between its handler threads and the test.
struct ServerLog {
  std::mutex mutex;
  std::map<std::string, int> hits;  // by path
  std::string lastBody;
  std::map<std::string, std::string> lastHeaders;

  int hitsOf(const std::string& path) {
    std::lock_guard<std::mutex> lock(mutex);
    return hits[path];
  }
};

// Routes by path:
//   /ok              200 "hello" with a mixed-case and a lower-case header
//   /slow?ms=N       waits N ms, then 200 "slow"
//   /status?code=N   status N with body "failure body"
//   /echo            200 with the request body
//   /truncated       promises 100 body bytes, sends 10 and closes
class Handler : public Poco::Net::HTTPRequestHandler {
 public:
  explicit Handler(ServerLog& log) : log_(log) {}

  void handleRequest(Poco::Net::HTTPServerRequest& request,
                     Poco::Net::HTTPServerResponse& response) override {
    Poco::URI uri(request.getURI());
    std::string body;
    Poco::StreamCopier::copyToString(request.stream(), body);
    record(uri.getPath(), request, body);
    std::string param = uri.getQueryParameters().empty() ? "" : uri.getQueryParameters()[0].second;

    if (uri.getPath() == "/ok") {
      response.set("X-Mixed-Case", "Value");
      response.set("kv_reqwait_msec", "5");
      reply(response, "hello");
    } else if (uri.getPath() == "/slow") {
      std::this_thread::sleep_for(std::chrono::milliseconds(std::stoi(param)));
      reply(response, "slow");
    } else if (uri.getPath() == "/status") {
      response.setStatusAndReason(
          static_cast<Poco::Net::HTTPResponse::HTTPStatus>(std::stoi(param)));
      reply(response, "failure body");
    } else if (uri.getPath() == "/echo") {
      reply(response, body);
    } else if (uri.getPath() == "/truncated") {
      response.setContentLength(100);
      response.setKeepAlive(false);
      response.send() << "0123456789";
    } else {
      response.setStatus(Poco::Net::HTTPResponse::HTTP_NOT_FOUND);
      response.send();
    }
  }

 private:
  // With a Content-Length, so that the connection stays open.
  static void reply(Poco::Net::HTTPServerResponse& response, const std::string& body) {
    response.sendBuffer(body.data(), body.size());
  }

  void record(const std::string& path, const Poco::Net::HTTPServerRequest& request,
              const std::string& body) {
    std::lock_guard<std::mutex> lock(log_.mutex);
    ++log_.hits[path];
    log_.lastBody = body;
    log_.lastHeaders.clear();
    for (const auto& field : request) log_.lastHeaders[field.first] = field.second;
  }

  ServerLog& log_;
};

class HandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
 public:
  explicit HandlerFactory(ServerLog& log) : log_(log) {}
  Poco::Net::HTTPRequestHandler* createRequestHandler(
      const Poco::Net::HTTPServerRequest&) override {
    return new Handler(log_);
  }

 private:
  ServerLog& log_;
};

class TestServer {
 public:
  // `idleCloseMs`: how long the server keeps an idle kept-alive connection open.
  explicit TestServer(int idleCloseMs = 10000)
      : socket_(Poco::Net::SocketAddress("127.0.0.1", 0)),
        server_(new HandlerFactory(log_), socket_, makeParams(idleCloseMs)) {
    server_.start();
  }
  ~TestServer() { server_.stopAll(true); }

  std::string url() const { return "http://127.0.0.1:" + std::to_string(socket_.address().port()); }
  int connections() const { return server_.totalConnections(); }
  ServerLog& log() { return log_; }

 private:
  static Poco::Net::HTTPServerParams::Ptr makeParams(int idleCloseMs) {
    Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
    params->setKeepAlive(true);
    params->setKeepAliveTimeout(
        Poco::Timespan(static_cast<Poco::Timespan::TimeDiff>(idleCloseMs) * 1000));
    return params;
  }

  ServerLog log_;
  Poco::Net::ServerSocket socket_;
  Poco::Net::HTTPServer server_;
};

SessionOptions optionsFor(const std::string& host, bool recordLog = false) {
  return {{"Host", host}, {"Keep-Alive", OptKeepAlive{30000}}, {"Record-Log", recordLog}};
}

class KvHttpTest : public ::testing::Test {
 protected:
  TestServer server_;
  KvHttp session_{optionsFor(server_.url())};
  std::string rsp_;
  HeaderMap rspHeaders_;
};

TEST_F(KvHttpTest, OkSendsHeadersFillsBodyAndHeadersAndKeepsTheConnection) {
  HeaderMap headers{{"Authorization", "sig"}, {"Request-Timeout", "5000"}};
  ASSERT_TRUE(session_.get(rsp_, "/ok?a=1", headers).ok());
  ResultStatus status = session_.getRspHeader(rsp_, rspHeaders_, "/ok", headers);

  EXPECT_EQ(status.code, OK) << status.toString();
  EXPECT_EQ(rsp_, "hello");
  EXPECT_EQ(rspHeaders_["X-Mixed-Case"], "Value");
  EXPECT_EQ(rspHeaders_.count("x-mixed-case"), 0u);
  EXPECT_EQ(rspHeaders_["kv_reqwait_msec"], "5");
  EXPECT_EQ(server_.log().lastHeaders["Authorization"], "sig");
  EXPECT_EQ(server_.log().lastHeaders["Request-Timeout"], "5000");
  EXPECT_EQ(server_.connections(), 1);
}

TEST_F(KvHttpTest, StatusCodesMapToResultCodes) {
  struct Case {
    int httpStatus;
    int32_t code;
  };
  for (const Case& c : {Case{401, EN_TokenErr}, Case{403, EN_FORBIDDEN},
                        Case{500, EN_MAIN_SERVICE_ERROR}, Case{404, EN_MAIN_SERVICE_ERROR}}) {
    ResultStatus status = session_.getRspHeader(rsp_, rspHeaders_,
                                                "/status?code=" + std::to_string(c.httpStatus), {});
    EXPECT_EQ(status.code, c.code) << c.httpStatus;
    EXPECT_EQ(rsp_, "failure body") << c.httpStatus;
  }
  ResultStatus status = session_.getRspHeader(rsp_, rspHeaders_, "/status?code=500", {});
  EXPECT_EQ(status.msg, "HTTP 500 Internal Server Error");
  // The failures left the kept-alive connection usable.
  EXPECT_TRUE(session_.get(rsp_, "/ok", {}).ok());
  EXPECT_EQ(server_.connections(), 1);
}

TEST_F(KvHttpTest, TimeOutIsNotResentAndLeavesNoStaleAnswer) {
  ASSERT_TRUE(session_.get(rsp_, "/ok", {}).ok());  // the slow request reuses this connection

  ResultStatus status = session_.get(rsp_, "/slow?ms=1000", {{"Request-Timeout", "200"}});
  EXPECT_EQ(status.code, TIMEOUT) << status.toString();

  // The late "slow" answer must not be taken as the answer to the next request.
  ASSERT_TRUE(session_.get(rsp_, "/ok", {}).ok());
  EXPECT_EQ(rsp_, "hello");
  EXPECT_EQ(server_.log().hitsOf("/slow"), 1);
}

TEST_F(KvHttpTest, PostBodyReachesServer) {
  std::string body(100000, 'x');
  body += "end";
  ResultStatus status = session_.post(rsp_, "/echo", body, {{"Content-Type", "text/plain"}});

  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(server_.log().lastBody, body);
  EXPECT_EQ(rsp_, body);
}

TEST_F(KvHttpTest, BodyCutShortIsAFailureAndNotResent) {
  ASSERT_TRUE(session_.get(rsp_, "/ok", {}).ok());

  ResultStatus status = session_.get(rsp_, "/truncated", {{"Request-Timeout", "5000"}});

  EXPECT_EQ(status.code, EN_FAIL_CONNECT);
  EXPECT_THAT(status.msg, HasSubstr("10 of 100"));
  EXPECT_EQ(server_.log().hitsOf("/truncated"), 1);
}

TEST(KvHttpKeepAlive, ServerClosedIdleConnectionRecovers) {
  TestServer server(/*idleCloseMs=*/100);
  KvHttp session(optionsFor(server.url()));  // client keep-alive 30 s: it trusts the connection
  std::string rsp;
  ASSERT_TRUE(session.get(rsp, "/ok", {}).ok());

  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  ResultStatus status = session.get(rsp, "/ok", {});

  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(rsp, "hello");
  EXPECT_EQ(server.connections(), 2);

  // A POST writes more after the request line: the closed connection must not kill the process.
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  std::string body(200000, 'p');
  status = session.post(rsp, "/echo", body, {});
  EXPECT_TRUE(status.ok()) << status.toString();
  EXPECT_EQ(rsp, body);
}

TEST(KvHttpConnect, RefusedConnectionIsReported) {
  uint16_t port;
  {
    Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
    port = socket.address().port();
  }
  KvHttp session(optionsFor("http://127.0.0.1:" + std::to_string(port)));
  std::string rsp;

  ResultStatus status = session.get(rsp, "/ok", {{"Request-Timeout", "2000"}});

  EXPECT_EQ(status.code, EN_FAIL_CONNECT);
  EXPECT_THAT(status.msg, HasSubstr("refused"));
}

TEST(KvHttpOptions, BadOptionsGiveAStatusNotAnException) {
  struct Case {
    SessionOptions options;
    int32_t code;
  };
  const Case cases[] = {
      {optionsFor("https://127.0.0.1:1"), NOT_SUPPORT},
      {optionsFor("127.0.0.1:8080"), INVALID_FRONTADDRESS},
      {optionsFor("http://"), INVALID_FRONTADDRESS},
      {optionsFor("http://[::1"), INVALID_FRONTADDRESS},
      {{{"Keep-Alive", OptKeepAlive{1}}}, INVALID_FRONTADDRESS},
      {{{"Host", 5}}, INVALID_FRONTADDRESS},
      {{{"Host", std::string("http://127.0.0.1:1")}, {"Keep-Alive", 30000}}, INVALID_PARAM},
      {{{"Host", std::string("http://127.0.0.1:1")}, {"Record-Log", 1}}, INVALID_PARAM},
  };
  for (const Case& c : cases) {
    KvHttp session(c.options);
    std::string rsp;
    HeaderMap rspHeaders;
    ResultStatus get = session.getRspHeader(rsp, rspHeaders, "/", {});
    ResultStatus post = session.post(rsp, "/", "body", {});
    EXPECT_EQ(get.code, c.code) << get.toString();
    EXPECT_EQ(post.code, c.code) << post.toString();
    EXPECT_FALSE(get.msg.empty());
  }
}

TEST_F(KvHttpTest, HeaderWithLineBreakIsRejectedBeforeSending) {
  ResultStatus status = session_.get(rsp_, "/ok", {{"X-Token", "abc\r\nX-Evil: 1"}});

  EXPECT_EQ(status.code, INVALID_PARAM);
  EXPECT_THAT(status.msg, Not(HasSubstr("abc")));
  EXPECT_EQ(server_.log().hitsOf("/ok"), 0);
}

TEST(KvHttpLog, RecordLogWritesExchangesWithoutHeaderValues) {
  TestServer server;
  test::LogCapture capture(log4cxx::Level::getDebug(), "HttpSession");
  KvHttp quiet(optionsFor(server.url(), false));
  KvHttp loud(optionsFor(server.url(), true));
  std::string rsp;
  HeaderMap headers{{"Authorization", "secret-signature"}, {"token", "secret-token"}};

  ASSERT_TRUE(quiet.get(rsp, "/ok", headers).ok());
  EXPECT_TRUE(capture.lines().empty());

  ASSERT_TRUE(loud.get(rsp, "/ok?q=1", headers).ok());
  loud.get(rsp, "/status?code=401", headers);

  std::vector<std::string> lines = capture.lines();
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_THAT(lines[0], HasSubstr("GET /ok?q=1"));
  EXPECT_THAT(lines[0], HasSubstr("200"));
  EXPECT_THAT(lines[0], HasSubstr("5 bytes"));
  EXPECT_THAT(lines[1], HasSubstr("401"));
  for (const std::string& line : lines) EXPECT_THAT(line, Not(HasSubstr("secret")));
}

}  // namespace
}  // namespace orvex
