// Access token and request signature checks.
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/Net/NameValueCollection.h>
#include <Poco/Timestamp.h>
#include <gtest/gtest.h>

#include "Signing.h"
#include "hqserver/RequestAuthenticator.h"

namespace orvex {
namespace hqserver {
namespace {

constexpr int64_t kNowMs = 1717400000000;  // the service's clock in these tests
constexpr int64_t kMinuteMs = 60'000;

std::string httpDate(int64_t ms) {
  return Poco::DateTimeFormatter::format(Poco::Timestamp(ms * 1000),
                                         Poco::DateTimeFormat::HTTP_FORMAT);
}

const char kQuery[] = "/QryCodeType?types=tick&codes=a%2C%20b&count=10&beginTime=1&endTime=2";
// Its canonical resource, written out: items sorted, values encoded again.
const char kResource[] =
    "/QryCodeType\nbeginTime=1\ncodes=a%2C%20b\ncount=10\nendTime=2\ntypes=tick";

class SignatureTest : public ::testing::Test {
 protected:
  RequestAuthenticator auth_{AuthConfig{"", "AK", "SK"}, [] { return kNowMs; }};

  Poco::Net::NameValueCollection signedHeaders(int64_t dateMs, const std::string& secret = "SK",
                                               const std::string& md5 = test::emptyMd5()) {
    Poco::Net::NameValueCollection h;
    h.set("Date", httpDate(dateMs));
    h.set("Content-MD5", md5);
    h.set("x-fc-trace", "v");
    h.set("my-x-fc-id", "w");
    h.set("X-Fc-Upper", "not signed");
    const std::string canonical =
        "GET\n" + md5 + "\n\n" + httpDate(dateMs) + "\nmy-x-fc-id:w\nx-fc-trace:v\n" + kResource;
    h.set("Authorization", test::authorization("AK", secret, canonical));
    return h;
  }

  int check(const std::string& query, const Poco::Net::NameValueCollection& h) {
    return auth_.check("GET", Poco::URI(query), h, "").status;
  }
};

TEST_F(SignatureTest, AcceptsACorrectSignatureWithinTheAllowedClockSkew) {
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs)), 200);
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs - 14 * kMinuteMs)), 200);
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs + 14 * kMinuteMs)), 200);
}

TEST_F(SignatureTest, RefusesEveryAlteredOrStaleRequest) {
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs - 16 * kMinuteMs)), 403) << "Date too old";
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs + 16 * kMinuteMs)), 403) << "Date too new";
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs, "other")), 403) << "wrong secret";
  EXPECT_EQ(check("/QryCodeType?types=tick&codes=a%2C%20b&count=11&beginTime=1&endTime=2",
                  signedHeaders(kNowMs)),
            403)
      << "query changed after signing";
  EXPECT_EQ(check(kQuery, signedHeaders(kNowMs, "SK", "0123")), 403) << "Content-MD5 of no body";

  auto h = signedHeaders(kNowMs);
  h.set("x-fc-trace", "changed");
  EXPECT_EQ(check(kQuery, h), 403) << "signed header changed";
  h = signedHeaders(kNowMs);
  h.set("Authorization", "FC OTHER:" + h.get("Authorization").substr(6));
  EXPECT_EQ(check(kQuery, h), 403) << "wrong key";
  h = signedHeaders(kNowMs);
  h.set("Date", "yesterday");
  EXPECT_EQ(check(kQuery, h), 403) << "unreadable Date";
  h = signedHeaders(kNowMs);
  h.erase("Authorization");
  EXPECT_EQ(check(kQuery, h), 403) << "unsigned";
}

TEST_F(SignatureTest, SignedTextTakesPathSlashAndBareNames) {
  // Empty values give bare names; ':' and '/' stay as they are in the item.
  const std::string query = "/QryLast?codes=&types=x%3Ay%2Fz";
  Poco::Net::NameValueCollection h;
  h.set("Date", httpDate(kNowMs));
  h.set("Content-MD5", test::emptyMd5());
  h.set("Authorization",
        test::authorization("AK", "SK",
                            "GET\n" + std::string(test::emptyMd5()) + "\n\n" + httpDate(kNowMs) +
                                "\n/QryLast\ncodes\ntypes=x:y/z"));
  EXPECT_EQ(check(query, h), 200);
  EXPECT_EQ(RequestAuthenticator::stringToSign("GET", Poco::URI("?a=1"), {}), "GET\n\n\n\n/\na=1");
}

TEST(TokenTest, RequiresTheConfiguredTokenBeforeTheSignature) {
  RequestAuthenticator auth(AuthConfig{"T0k", "AK", "SK"}, [] { return kNowMs; });
  Poco::Net::NameValueCollection h;
  Poco::URI uri("/HeartBeat");
  EXPECT_EQ(auth.check("GET", uri, h, "").status, 401) << "no token";
  h.set("kvauth", "T0K");
  EXPECT_EQ(auth.check("GET", uri, h, "").status, 401) << "token case differs";
  h.set("kvauth", "T0k");
  EXPECT_EQ(auth.check("GET", uri, h, "").status, 403) << "token right, signature missing";

  RequestAuthenticator open(AuthConfig{}, [] { return kNowMs; });
  EXPECT_EQ(open.check("GET", uri, Poco::Net::NameValueCollection(), "").status, 200);
}

}  // namespace
}  // namespace hqserver
}  // namespace orvex
