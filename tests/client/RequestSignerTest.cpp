// The request signature: its canonical parts, the merge into the caller's headers, and what
// reaches the server, checked against an HMAC computed here from the canonical text.

#include <gtest/gtest.h>

#include <string>

#include "ClientTestSupport.h"
#include "orvex/RequestSigner.h"

namespace orvex {
namespace test {
namespace {

TEST(RequestSignerTest, CanonicalHeadersTakeOnlyCaseSensitiveFcNamesLowerCasedAndSorted) {
  HeaderMap headers{{"x-fc-b", "2"}, {"my-x-fc-id", "1"},   {"X-Fc-Trace", "no"}, {"x-fc-A", "3"},
                    {"x-fc-a", "4"}, {"Content-Type", "t"}, {"x-fc", "short"}};
  // "x-fc-A" and "x-fc-a" lower-case alike; the later one in byte order wins.
  EXPECT_EQ(RequestSigner::canonicalHeaders(headers), "my-x-fc-id:1\nx-fc-a:4\nx-fc-b:2\n");
  EXPECT_EQ(RequestSigner::canonicalHeaders({{"kvauth", "t"}}), "");
}

TEST(RequestSignerTest, CanonicalResourceDecodesThenReencodesValuesOnly) {
  Poco::URI uri("/p?f=a:b/c&c=1+2&e=&d=x%2Cy");
  EXPECT_EQ(RequestSigner::canonicalResource(uri), "/p\nc=1%202\nd=x%2Cy\ne\nf=a:b/c");
  EXPECT_EQ(RequestSigner::canonicalResource(Poco::URI("?a=1")), "/\na=1");
  EXPECT_EQ(RequestSigner::canonicalResource(Poco::URI("/QryLast")), "/QryLast\n");
}

TEST(RequestSignerTest, NothingIsSignedWithoutKeyOrSecret) {
  HeaderMap headers{{"kvauth", ""}, {"x-fc-trace", "v"}};
  for (auto [key, secret] : {std::pair<std::string, std::string>{"AK", ""}, {"", "SK"}}) {
    RequestSigner signer(key, secret);
    EXPECT_TRUE(signer.sign(Poco::URI("/p?a=1"), "GET", "", headers).ok());
    EXPECT_EQ(signer.signedHeaders(headers), headers);
  }
}

TEST(RequestSignerTest, CallerValuesWinTheMergeButTheSignerDateIsSigned) {
  RequestSigner signer("AK", "SK");
  HeaderMap headers{{"Date", "caller-date"}, {"x-fc-trace", "v"}};
  ASSERT_TRUE(signer.sign(Poco::URI("/p?b=2&a=1"), "POST", "body", headers).ok());

  HeaderMap merged = signer.signedHeaders(headers);
  HeaderMap own = signer.signedHeaders({});
  EXPECT_EQ(merged.at("Date"), "caller-date");
  EXPECT_EQ(merged.at("x-fc-trace"), "v");
  ASSERT_EQ(own.size(), 3u);
  EXPECT_EQ(own.at("Content-MD5"), md5Hex("body"));
  std::string text = "POST\n" + md5Hex("body") + "\n\n" + own.at("Date") + "\n" + "x-fc-trace:v\n" +
                     "/p\na=1\nb=2";
  EXPECT_EQ(merged.at("Authorization"), "FC AK:" + hmacSha256Hex("SK", text));
}

class SignatureOnTheWireTest : public ClientTest {};

TEST_F(SignatureOnTheWireTest, ArbitraryRequestCarriesTheDocumentedSignature) {
  env.set("fc_key", "AK").set("fc_secret", "SK");
  start();
  HeaderMap headers{{"x-fc-trace", "v"}, {"Content-Type", "text/plain"}, {"kvauth", ""}};
  std::string rsp;
  ASSERT_TRUE(api.getRequest(Poco::URI("/sig?c=1+2&e=&d=x%2Cy"), headers, 3, rsp).ok());

  auto requests = server.requestsTo("/sig");
  ASSERT_EQ(requests.size(), 1u);
  const RecordedRequest& r = requests[0];
  EXPECT_EQ(r.target, "/sig?c=1+2&e=&d=x%2Cy");
  EXPECT_EQ(r.header("Content-MD5"), md5Hex(""));
  ASSERT_FALSE(r.header("Date").empty());
  std::string text = "GET\n" + md5Hex("") + "\ntext/plain\n" + r.header("Date") +
                     "\nx-fc-trace:v\n/sig\nc=1%202\nd=x%2Cy\ne";
  EXPECT_EQ(r.header("Authorization"), "FC AK:" + hmacSha256Hex("SK", text));
  // The token goes in after signing.
  EXPECT_EQ(r.header("kvauth"), "tok-1");
}

TEST_F(SignatureOnTheWireTest, DataQueryIsSignedOverItsEncodedQuery) {
  env.set("fc_key", "AK").set("fc_secret", "SK");
  start();
  std::vector<CloudTopic> out;
  ASSERT_TRUE(api.getLastData("k", {"a", "b"}, out).ok());

  auto requests = server.requestsTo("/QryLast");
  ASSERT_EQ(requests.size(), 1u);
  const RecordedRequest& r = requests[0];
  std::string text =
      "GET\n" + md5Hex("") + "\n\n" + r.header("Date") + "\n/QryLast\ncodes=a%2Cb%2C\ntypes=k";
  EXPECT_EQ(r.header("Authorization"), "FC AK:" + hmacSha256Hex("SK", text));
}

TEST_F(SignatureOnTheWireTest, MissingSecretSendsNoSignatureHeaders) {
  env.set("fc_key", "AK");
  start();
  std::vector<CloudTopic> out;
  ASSERT_TRUE(api.getLastData("k", {"a"}, out).ok());

  auto requests = server.requestsTo("/QryLast");
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_FALSE(requests[0].hasHeader("Authorization"));
  EXPECT_FALSE(requests[0].hasHeader("Content-MD5"));
  EXPECT_FALSE(requests[0].hasHeader("Date"));
  EXPECT_EQ(auth->accessInfoFetches(), 0);
}

}  // namespace
}  // namespace test
}  // namespace orvex
