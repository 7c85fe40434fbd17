// The identification headers and the access-token cache.

#include <gtest/gtest.h>

#include <string>

#include "ClientTestSupport.h"

namespace orvex {
namespace test {
namespace {

class HeadersAndTokenTest : public ClientTest {};

TEST_F(HeadersAndTokenTest, GenHeaderBuildsTheSixIdentificationHeaders) {
  HeaderMap expected{{"Request-Timeout", "8000"}, {"kvauth", ""}, {"user", "u1"},
                     {"product_id", "abc_7"},     {"mac", "m1"},  {"kvversion", "v9"}};
  EXPECT_EQ(HqHistoryApiTestPeer::genHeader(8000, ""), expected);

  HeaderMap negative = HqHistoryApiTestPeer::genHeader(-1, "a1");
  EXPECT_EQ(negative.at("Request-Timeout"), "-1");
  EXPECT_EQ(negative.at("kvauth"), "a1");
}

TEST_F(HeadersAndTokenTest, TokenIsCachedAndRefreshedOnlyWhenEmptyOrStale) {
  std::string out;
  ASSERT_TRUE(peer.getToken("", out).ok());
  EXPECT_EQ(out, "tok-1");
  EXPECT_EQ(auth->tokenFetches(), 1);
  EXPECT_EQ(auth->lastTokenRequest().kind, 13);
  EXPECT_EQ(auth->lastTokenRequest().services, std::vector<std::string>{"history_quote_info"});

  auth->setToken("tok-2");
  ASSERT_TRUE(peer.getToken("", out).ok());
  ASSERT_TRUE(peer.getToken("something-else", out).ok());
  EXPECT_EQ(out, "tok-1");
  EXPECT_EQ(auth->tokenFetches(), 1);

  ASSERT_TRUE(peer.getToken("tok-1", out).ok());
  EXPECT_EQ(out, "tok-2");
  EXPECT_EQ(auth->tokenFetches(), 2);
}

TEST_F(HeadersAndTokenTest, FailedRefreshLeavesTheCacheEmptyAndIsRetriedNextTime) {
  auth->failNextTokenFetches(1, ResultStatus(NOT_AUTH_SETTING, "denied"));
  std::string out = "old";
  ResultStatus status = peer.getToken("", out);
  EXPECT_EQ(status.code, NOT_AUTH_SETTING);
  EXPECT_EQ(status.msg, "denied");
  EXPECT_EQ(out, "");
  EXPECT_EQ(peer.cachedToken(), "");

  // A failing fill hands back the caller's headers; the next one refreshes again.
  auth->failNextTokenFetches(1, ResultStatus(EN_TokenErr, "expired"));
  HeaderMap mine{{"kvauth", "mine"}, {"user", "u"}};
  auto [failed, unchanged] = peer.fillToken("", mine);
  EXPECT_EQ(failed.code, EN_TokenErr);
  EXPECT_EQ(unchanged, mine);

  auto [filled, headers] = peer.fillToken("", mine);
  EXPECT_TRUE(filled.ok());
  EXPECT_EQ(headers.at("kvauth"), "tok-1");
  EXPECT_EQ(auth->tokenFetches(), 3);
}

TEST_F(HeadersAndTokenTest, WithoutAuthServiceTheTokenStaysEmptyAndRequestsGoOut) {
  ScopedAuthService none(nullptr);
  auto [status, headers] = peer.fillToken("", {{"kvauth", "mine"}});
  EXPECT_TRUE(status.ok());
  EXPECT_EQ(headers.at("kvauth"), "");

  start();
  std::vector<CloudTopic> out;
  ASSERT_TRUE(api.getLastData("k", {"a"}, out).ok());
  ASSERT_EQ(server.requests().size(), 1u);
  EXPECT_TRUE(server.requests()[0].hasHeader("kvauth"));
  EXPECT_EQ(server.requests()[0].header("kvauth"), "");
}

TEST_F(HeadersAndTokenTest, EveryRequestCarriesTheHeadersWithItsTimeOut) {
  start();
  std::vector<CloudTopic> topics;
  CloudTopic cached;
  int64_t unused = 0;
  PageResponse page;
  std::string name;
  api.getLastData("k", {"a"}, topics);
  api.getDataCache(TopicKey{"a", "k"}, cached);
  api.getDataByRange(TopicReq{"k", {"a"}, 1, 2, 10, 0}, unused, topics);
  api.getDataByPage(PageReq{}, page, topics);
  api.heartBeat("");
  api.getServerName(name);

  std::map<std::string, std::string> timeoutByPath{{"/QryLast", "8000"},
                                                   {"/QryCodeType", "8000"},
                                                   {"/QryPageTgtDetailV2", "8000"},
                                                   {"/HeartBeat", "5000"},
                                                   {"/getServerVersion", "5000"}};
  auto requests = server.requests();
  ASSERT_EQ(requests.size(), 6u);
  for (const RecordedRequest& r : requests) {
    SCOPED_TRACE(r.target);
    EXPECT_EQ(r.method, "GET");
    EXPECT_EQ(r.header("Request-Timeout"), timeoutByPath.at(r.path));
    EXPECT_EQ(r.header("kvauth"), "tok-1");
    EXPECT_EQ(r.header("user"), "u1");
    EXPECT_EQ(r.header("product_id"), "abc_7");
    EXPECT_EQ(r.header("mac"), "m1");
    EXPECT_EQ(r.header("kvversion"), "v9");
  }
}

}  // namespace
}  // namespace test
}  // namespace orvex
