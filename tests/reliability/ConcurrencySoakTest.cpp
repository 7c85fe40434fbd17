// Eight host threads drive one wrapper with a mix of both request paths and the three synchronous
// lookups while the service injects occasional faults; every request ends in an owed status and
// complete, ordered deliveries.

#include <algorithm>
#include <atomic>
#include <thread>

#include "ReliabilitySupport.h"

namespace orvex::test::reliability {
namespace {

constexpr int kHostThreads = 8;
constexpr int kRequestsPerThread = 200;

TEST(ConcurrencySoakTest, EightHostThreadsMixAllRequestKindsUnderFaults) {
  PluginHost host;
  ASSERT_TRUE(host.start(4));
  for (const char* text :
       {"kind=status,code=401,every=13", "kind=status,code=503,every=101", "kind=garbage,every=89",
        "kind=close,every=67", "kind=delay,ms=30,every=7"}) {
    host.service->addFault(text);
  }
  std::atomic<int> succeeded{0}, failed{0};
  auto count = [&](const ResultStatus& s) {
    EXPECT_TRUE(s.code == OK || s.code == EN_ICE_NET_ERROR || s.code == UNKNOWN) << s.msg;
    (s.ok() ? succeeded : failed)++;
  };
  auto hostThread = [&](int t) {
    const std::vector<std::string>& all = DataSet::targets();
    for (int i = 0; i < kRequestsPerThread; ++i) {
      SCOPED_TRACE(t * 1000 + i);
      const std::string& target = all[(t + i) % all.size()];
      const int64_t end = DataSet::lastTickTime() - (i * 11 % 400) * DataSet::kTickStep;
      const int32_t maxCount = 700 + (i % 4) * 300;
      if (i % 5 == 0) {
        const int64_t begin = DataSet::kBase + (i * 37 % 500) * DataSet::kTickStep;
        count(host.run(TopicReq{"tick", {target}, begin, end, maxCount}, t * 1000 + i));
      } else if (i % 5 == 1) {
        std::vector<std::string> targets = {target};
        if (i % 2 == 1) targets.push_back(all[(i / 2) % all.size()]);
        const int64_t beginMtm = DataSet::kBase + (i % 50) * 1000;
        count(
            host.run(TopicReq{"bar", targets, beginMtm, INT64_MAX, 0, ByModifyTime}, t * 1000 + i));
      } else {
        const std::vector<std::string> targets = {all[0], all[1], all[2], all[3], "NOT.THERE"};
        std::vector<CloudTopic> out(i % 5 == 2 ? 0 : 1);
        const ResultStatus s = i % 5 == 2   ? host.api->getLastData("tick", targets, out)
                               : i % 5 == 3 ? host.api->getData({target, "tick"}, DataSet::kBase,
                                                                end, maxCount, out[0])
                                            : host.api->getDataCache({target, "tick"}, out[0]);
        const std::vector<RecordId> expected =
            i % 5 == 2   ? DataSet::latest("tick", targets)
            : i % 5 == 3 ? DataSet::range(target, "tick", DataSet::kBase, end, maxCount)
                         : DataSet::latest("tick", {target});
        count(s);
        // A failure keeps what was fetched before it: the newest part of what was asked for.
        const std::vector<RecordId> got = idsOf(out);
        ASSERT_LE(got.size(), expected.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), expected.end() - got.size()));
        EXPECT_TRUE(!s.ok() || got.size() == expected.size()) << got.size();
      }
    }
  };
  std::vector<std::thread> hosts;
  for (int t = 0; t < kHostThreads; ++t) hosts.emplace_back(hostThread, t);
  for (std::thread& h : hosts) h.join();

  RecordProperty("faults_injected", static_cast<int>(host.service->faults().fired()));
  EXPECT_EQ(succeeded + failed, kHostThreads * kRequestsPerThread);
  EXPECT_GT(host.service->faults().fired(), 0u);
  EXPECT_GT(succeeded.load(), failed.load()) << "faults are occasional";
}

}  // namespace
}  // namespace orvex::test::reliability
