// KvHttp against the local service on 127.0.0.1: outcome mapping, hostile answers (framing,
// deadline, size), header names, gzip, the address's path, kept-alive recovery, options and TLS.
#include <Poco/Net/NetException.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>
#include <Poco/TemporaryFile.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <future>

#include "ChildProcess.h"
#include "LocalService.h"
#include "LogCapture.h"
#include "ScopedEnvironment.h"
#include "orvex/KvHttp.h"

namespace orvex {
namespace {

using ::testing::HasSubstr;
using ::testing::Not;

constexpr char kToken[] = "token-never-logged";
// 1,000 tick records, about 30 KB of text.
constexpr char kRange[] = "/QryCodeType?types=tick&codes=CFFEX.IF2409&count=1000";

SessionOptions optionsFor(const std::string& host, bool recordLog = false) {
  return {{"Host", host}, {"Keep-Alive", OptKeepAlive{30000}}, {"Record-Log", recordLog}};
}

hqserver::ServerOptions withToken() {
  hqserver::ServerOptions options;
  options.token = kToken;
  return options;
}

// Sends `bytes` of a request head that never completes; true when the service ends the
// connection within 30 s (its head deadline is 5 s, while one read may take 60 s).
bool incompleteHeadIsCut(uint16_t port, const std::string& bytes) {
  Poco::Net::StreamSocket socket(Poco::Net::SocketAddress("127.0.0.1", port));
  socket.sendBytes(bytes.data(), static_cast<int>(bytes.size()));
  socket.setReceiveTimeout(Poco::Timespan(30, 0));
  char byte;
  try {
    return socket.receiveBytes(&byte, 1) == 0;
  } catch (const Poco::TimeoutException&) {
    return false;
  } catch (const Poco::Net::NetException&) {
    return true;  // reset
  }
}

class KvHttpTest : public ::testing::Test {
 protected:
  ResultStatus get(const std::string& path, const std::string& timeoutMs = "5000") {
    HeaderMap headers{{"kvauth", kToken}, {"Request-Timeout", timeoutMs}};
    return session_.getRspHeader(rsp_, rspHeaders_, path, headers);
  }

  test::ScopedEnvironment environment_;
  test::LocalService service_{withToken()};
  KvHttp session_{optionsFor(service_.url(), /*recordLog=*/true)};
  std::string rsp_;
  HeaderMap rspHeaders_;
};

TEST_F(KvHttpTest, EveryAnswerMapsToACodeAndTheSessionServesTheNextRequest) {
  test::LogCapture capture(log4cxx::Level::getDebug(), "HttpSession");
  const std::string page = "/QryPageTgtDetailV2?type=kline1m&tgt=DCE.m2409&page=0";
  struct Case {
    const char* fault;
    std::string path;
    const char* timeoutMs;
    int32_t code;
    const char* msg;
  };
  const Case cases[] = {
      {"", "/HeartBeat", "99999999999999999999", OK, ""},  // a time-out too large is clamped
      {"kind=status,code=403", "/HeartBeat", "5000", EN_FORBIDDEN, "HTTP 403 Forbidden"},
      {"kind=status,code=500", "/HeartBeat", "5000", EN_MAIN_SERVICE_ERROR, "HTTP 500"},
      {"kind=chunked-cut", kRange, "5000", EN_FAIL_CONNECT, "answer cut short"},
      {"kind=bad-chunk", kRange, "5000", EN_MAIN_SERVICE_ERROR, "is not hexadecimal"},
      {"kind=endless", kRange, "5000", ON_MEMORYSHORT, "larger than the limit of 67108864"},
      // Each byte comes well within the time-out; the whole answer does not.
      {"kind=drip,ms=50", "/HeartBeat", "700", TIMEOUT, "no complete answer"},
  };
  service_.setWaitMsec(0);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.fault);
    service_.faults().clear();
    if (*c.fault) service_.addFault(std::string(c.fault) + ",first=1");
    ResultStatus status = get(c.path, c.timeoutMs);
    EXPECT_EQ(status.code, c.code) << status.toString();
    EXPECT_THAT(status.msg, HasSubstr(c.msg));
    if (status.ok()) {
      EXPECT_EQ(rspHeaders_.count("kv_reqwait_msec"), 1u);
    }
    ASSERT_TRUE(get("/HeartBeat").ok());
    EXPECT_EQ(rsp_, "ok\n");
  }
  EXPECT_EQ(get(page).code, OK);
  HeaderMap plainHeaders = rspHeaders_;
  service_.addFault("kind=caps-headers");
  ASSERT_EQ(get(page).code, OK);
  plainHeaders.erase("date");
  rspHeaders_.erase("date");
  EXPECT_EQ(rspHeaders_, plainHeaders);  // names arrive in lower case however they were sent
  EXPECT_EQ(rspHeaders_.count("islast"), 1u);

  EXPECT_EQ(session_.get(rsp_, "/HeartBeat", {}).code, EN_TokenErr);
  EXPECT_THAT(capture.lines().back(), HasSubstr("GET /HeartBeat -> 401"));
  EXPECT_TRUE(capture.linesContaining(kToken).empty());
  // A header that would smuggle in another is refused unsent, without echoing its value.
  ResultStatus status = session_.get(rsp_, "/never", {{"X-Token", "secret\r\nX-Evil: 1"}});
  EXPECT_EQ(status.code, INVALID_PARAM);
  EXPECT_THAT(status.msg, Not(HasSubstr("secret")));
  EXPECT_EQ(service_.requestCount("/never"), 0u);
}

TEST_F(KvHttpTest, OnlyARequestLostWithAClosedKeptAliveConnectionIsResent) {
  ASSERT_TRUE(get("/HeartBeat").ok());  // opens the connection that is then reused
  service_.addFault("kind=close,path=/HeartBeat,first=1");
  ResultStatus status = get("/HeartBeat");
  EXPECT_TRUE(status.ok()) << status.toString();
  // The retry is the only one: a connection just opened that fails is final.
  service_.addFault("kind=close,path=/HeartBeat,first=2");
  EXPECT_EQ(get("/HeartBeat").code, EN_FAIL_CONNECT);
  EXPECT_EQ(service_.requestCount("/HeartBeat"), 5u);

  // A time-out is not resent, and its late answer is not taken for the next request's.
  service_.addFault("kind=delay,ms=1000,path=/QryLast,first=1");
  EXPECT_EQ(get("/QryLast?codes=DCE.m2409&types=tick", "200").code, TIMEOUT);
  ASSERT_TRUE(get("/HeartBeat").ok());
  EXPECT_EQ(rsp_, "ok\n");
  EXPECT_EQ(service_.requestCount("/QryLast"), 1u);
}

TEST_F(KvHttpTest, BodyLimitHoldsForPlainAndInflatedAnswersWithAndWithoutGzip) {
  ASSERT_TRUE(get(kRange).ok());
  const std::string expected = rsp_;
  ASSERT_GT(expected.size(), 20000u);
  struct Case {
    int64_t limit;
    const char* gzip;
    int32_t code;
    const char* msg;
  };
  for (const Case& c : {Case{64 << 20, "false", OK, ""},
                        Case{16384, "true", ON_MEMORYSHORT, "inflated answer body larger"},
                        Case{16384, "false", ON_MEMORYSHORT, "limit of 16384 bytes"}}) {
    SCOPED_TRACE(c.gzip);
    environment_.set("http_gzip", c.gzip);
    SessionOptions options = optionsFor(service_.url());
    options["Max-Body-Size"] = c.limit;
    ResultStatus status = KvHttp(options).get(rsp_, kRange, {{"kvauth", kToken}});
    EXPECT_EQ(status.code, c.code) << status.toString();
    EXPECT_THAT(status.msg, HasSubstr(c.msg));
    EXPECT_EQ(rsp_.empty(), !status.ok());
    if (status.ok()) {
      EXPECT_EQ(rsp_, expected);
    }
  }
  // The address's path goes before every request path.
  ResultStatus status = KvHttp(optionsFor(service_.url() + "/base/")).get(rsp_, "/HeartBeat", {});
  EXPECT_EQ(status.code, EN_MAIN_SERVICE_ERROR);
  EXPECT_EQ(rsp_, "no such endpoint: /base/HeartBeat\n");
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
      {optionsFor("ftp://127.0.0.1:1"), NOT_SUPPORT, "ftp"},
      {optionsFor("127.0.0.1:8080"), INVALID_FRONTADDRESS, "127.0.0.1:8080"},
      {optionsFor("http://"), INVALID_FRONTADDRESS, "http://"},
      {optionsFor("http://[::1"), INVALID_FRONTADDRESS, "[::1"},
      {{{"Keep-Alive", OptKeepAlive{1}}}, INVALID_FRONTADDRESS, "Host"},
      {{{"Host", host}, {"Keep-Alive", 30000}}, INVALID_PARAM, "Keep-Alive"},
      {{{"Host", host}, {"Record-Log", 1}}, INVALID_PARAM, "Record-Log"},
      {{{"Host", host}, {"Max-Body-Size", 5}}, INVALID_PARAM, "Max-Body-Size"},
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

TEST(KvHttpTls, CertificatesAreVerifiedUnlessTurnedOffWithAWarning) {
  Poco::TemporaryFile certificates;  // removed with everything in it
  certificates.createDirectories();
  std::string out, err;
  ASSERT_EQ(test::runProgram("sh", {ORVEX_MAKE_TEST_CERTS, certificates.path()}, out, err), 0)
      << err;
  const auto file = [&](const std::string& name) { return certificates.path() + "/" + name; };
  struct Case {
    std::string served;
    bool trustCa;
    const char* verify;
    int32_t code;
    const char* cause;
  };
  const Case cases[] = {
      {"good", true, "true", OK, ""},
      {"good", false, "true", EN_FAIL_CONNECT, "unable to get local issuer certificate"},
      {"other", true, "true", EN_FAIL_CONNECT, "host name mismatch"},
      {"expired", true, "true", EN_FAIL_CONNECT, "certificate has expired"},
      {"expired", false, "false", OK, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.served + " verify=" + c.verify);
    hqserver::ServerOptions options;
    options.tlsCert = file(c.served + ".pem");
    options.tlsKey = file(c.served + ".key");
    test::LocalService service(options);
    test::ScopedEnvironment environment{{"tls_ca_file", c.trustCa ? file("ca.pem") : ""},
                                        {"tls_verify", c.verify}};
    test::LogCapture capture(log4cxx::Level::getWarn(), "HttpSession");
    KvHttp session(optionsFor(service.url()));
    std::string rsp;
    ResultStatus status = session.get(rsp, "/HeartBeat", {{"Request-Timeout", "5000"}});
    EXPECT_EQ(status.code, c.code) << status.toString();
    EXPECT_THAT(status.msg, HasSubstr(c.cause));
    EXPECT_EQ(rsp, status.ok() ? "ok\n" : "");
    EXPECT_EQ(capture.linesContaining("not verified").size(), *c.verify == 'f' ? 1u : 0u);
  }

  // A head that never completes is cut on https as on http, TLS handshake included.
  hqserver::ServerOptions tls;
  tls.tlsCert = file("good.pem");
  tls.tlsKey = file("good.key");
  test::LocalService plain, secure(tls);
  auto plainCut = std::async(std::launch::async, incompleteHeadIsCut, plain.port(), "GET / ");
  EXPECT_TRUE(incompleteHeadIsCut(secure.port(), "\x16"));
  EXPECT_TRUE(plainCut.get());
}

}  // namespace
}  // namespace orvex
