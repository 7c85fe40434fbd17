// The plug-in against the local service's fault injection: each fault ends in the status owed to
// the host, deliveries stay complete and ordered, and the same wrapper serves normally afterwards.
// Pacing is the client tests' (the value taken and logged, the queries that wait it out).
#include <gmock/gmock.h>

#include <sstream>
#include <string>

#include "ReliabilitySupport.h"
#include "orvex/Messages.h"

namespace orvex::test::reliability {
namespace {

using ::testing::HasSubstr;
using ::testing::SizeIs;

const TopicReq kRange =  // steps of 1000, 1000 and 200 records
    TopicReq{"tick", {"R1.y"}, DataSet::kBase, DataSet::lastTickTime(), 2200};
const TopicReq kPages = TopicReq{"bar", {"R2.z", "R0.x"}, 0, INT64_MAX, 0, ByModifyTime};

// Messages are matched in part; a count of 0 queries is not checked; an empty lookup or connect
// message means the call succeeds.
struct FaultCase {
  const char* name;
  std::string faults;  // rules separated by ';'
  int rangeCode;
  std::string rangeMsg;
  size_t rangeDeliveries, codeTypeQueries;
  int pageCode;
  std::string pageMsg, lookupMsg, connectMsg;
};

void PrintTo(const FaultCase& c, std::ostream* os) { *os << c.name; }

const FaultCase kCases[] = {
    {"TimeoutOnEveryAttempt", "kind=delay,path=/QryCodeType", TIMEOUT, msg::kHistoryFailed, 2, 3,
     OK, "", "", ""},
    {"TimeoutsThenAnAnswer", "kind=delay,path=/getServerVersion,first=2", OK, "", 4, 3, OK, "", "",
     ""},
    {"TokenErrorsThenSuccess",
     "kind=status,code=401,path=/QryCodeType,first=2;"
     "kind=status,code=401,path=/QryPageTgtDetailV2,every=2",
     OK, "", 4, 5, OK, "", "", ""},
    {"TokenErrorOnEveryAttempt", "kind=status,code=401,path=/QryCodeType", EN_ICE_NET_ERROR, "401",
     2, 0, OK, "", "", ""},
    {"ServerErrors",
     "kind=status,code=503,path=/QryCodeType,every=2;kind=status,code=500,path=/"
     "QryPageTgtDetailV2,first=1;kind=status,code=502,path=/QryLast",
     EN_ICE_NET_ERROR, "503", 3, 0, EN_ICE_NET_ERROR, "", "502", ""},
    {"ClosedConnections", "kind=close,path=/QryCodeType;kind=close,path=/QryPageTgtDetailV2",
     EN_ICE_NET_ERROR, "", 2, 0, EN_ICE_NET_ERROR, "", "", ""},
    {"GarbageBodies",
     "kind=garbage,path=/QryCodeType,every=2;kind=garbage,path=/QryPageTgtDetailV2,every=2;"
     "kind=garbage,path=/QryLast;kind=garbage,path=/getServerVersion",
     UNKNOWN, msg::kParseFailed, 3, 0, UNKNOWN, msg::kPageParseFailed, msg::kParseFailed,
     msg::kJsonParseFailed},
};

class FaultTableTest : public ::testing::TestWithParam<FaultCase> {};

TEST_P(FaultTableTest, EndsInTheOwedStatusAndKeepsServing) {
  const FaultCase& c = GetParam();
  PluginHost host;
  ASSERT_TRUE(host.start(2));
  std::istringstream faults(c.faults);
  for (std::string fault; std::getline(faults, fault, ';');) host.service->addFault(fault);
  const uint64_t before = host.service->requestCount("/QryCodeType");
  const ResultStatus ranged = host.run(kRange, 1);
  EXPECT_EQ(ranged.code, c.rangeCode) << ranged.msg;
  EXPECT_THAT(ranged.msg, HasSubstr(c.rangeMsg));
  EXPECT_THAT(host.spi.deliveries(1), SizeIs(c.rangeDeliveries));
  if (c.codeTypeQueries > 0) {
    EXPECT_EQ(host.service->requestCount("/QryCodeType") - before, c.codeTypeQueries);
  }

  const ResultStatus paged = host.run(kPages, 2);
  EXPECT_EQ(paged.code, c.pageCode) << paged.msg;
  EXPECT_THAT(paged.msg, HasSubstr(c.pageMsg));

  std::vector<CloudTopic> latest(1);
  const ResultStatus last = host.api->getLastData("tick", {"R1.y"}, latest);
  if (!c.lookupMsg.empty()) {
    EXPECT_TRUE(isClearFailure(last));
    EXPECT_THAT(last.msg, HasSubstr(c.lookupMsg));
    EXPECT_THAT(latest, SizeIs(1)) << "what the host held is kept";
    CloudTopic cached;
    EXPECT_THAT(host.api->getDataCache({"R1.y", "tick"}, cached).msg, HasSubstr(c.lookupMsg));
  }
  const ResultStatus connected = host.api->connect(host.service->url());
  EXPECT_EQ(connected.code, c.connectMsg.empty() ? OK : UNKNOWN);
  EXPECT_EQ(connected.msg, c.connectMsg);
  EXPECT_EQ(host.api->getServerName(), "orvex-hqserver");  // a failed connect keeps the name

  host.service->faults().clear();
  latest.clear();
  EXPECT_EQ(host.run(kRange, 9001).code, OK);
  EXPECT_EQ(host.run(kPages, 9002).code, OK);
  EXPECT_EQ(host.api->getLastData("tick", DataSet::targets(), latest).code, OK);
  EXPECT_EQ(idsOf(latest), DataSet::latest("tick", DataSet::targets()));
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultTableTest, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace orvex::test::reliability
