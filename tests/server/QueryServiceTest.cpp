// The endpoints' answers, checked against the data they are computed from.
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "LocalService.h"
#include "hqserver/DemoData.h"
#include "hqserver/QueryService.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace hqserver {
namespace {

Answer get(const QueryService& q, const std::string& pathAndQuery) {
  Poco::URI uri(pathAndQuery);
  return q.handle(uri.getPath(), uri.getQueryParameters());
}

std::string header(const Answer& a, const std::string& name) {
  for (const auto& [n, v] : a.headers) {
    if (n == name) return v;
  }
  return "<absent>";
}

// A record as an answer shows it.
using Row = std::tuple<std::string, int64_t, std::string>;  // target, time, data

std::vector<Row> rowsOf(const std::vector<CloudTopic>& topics) {
  std::vector<Row> rows;
  for (const auto& t : topics) {
    for (const auto& b : t.bodies) rows.emplace_back(t.target, b.time, b.data);
  }
  return rows;
}

const char kSmall[] =
    "a,k,10,110,1,x\n"
    "a,k,20,120,2,y\n"
    "b,k,15,115,3.5,z\n"
    "a,j,5,105,4,w\n";

TEST(QryLastTest, AnswersTheLatestRecordOfEachListedTarget) {
  QueryService q(test::LocalService::fromCsv(kSmall), 10, "n");
  Answer a = get(q, "/QryLast?codes=a%2Cnone%2Cb%2C&types=k");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "a,20,2,y\nb,15,3.5,z\n");
  EXPECT_EQ(get(q, "/QryLast?codes=a%2Cb%2C&types=ce_k").body, a.body) << "cached form";
  EXPECT_EQ(get(q, "/QryLast?codes=a%2C&types=j").body, "a,5,4,w\n");
  Answer none = get(q, "/QryLast?codes=&types=k");
  EXPECT_EQ(none.status, 200);
  EXPECT_EQ(none.body, "");
}

class EmbeddedQueryTest : public ::testing::Test {
 protected:
  std::shared_ptr<const DataStore> store_ = test::LocalService::embeddedData();
  QueryService q_{store_, 1000, "demo"};
  const Series* rb_ = store_->find("SHFE.rb2410", "tick");

  const StoredRecord& rb(uint32_t i) const { return rb_->records[i]; }

  std::vector<TopicBody> range(const std::string& query) const {
    Answer a = get(q_, "/QryCodeType?types=tick&codes=SHFE.rb2410" + query);
    EXPECT_EQ(a.status, 200) << a.body;
    std::vector<TopicBody> out;
    EXPECT_TRUE(TopicUtils::basicRec2TopicBodys(a.body, out));
    return out;
  }
};

TEST_F(EmbeddedQueryTest, CodeTypeAnswersTheLatestCountRecordsUpToEndTimeAscending) {
  ASSERT_NE(rb_, nullptr);
  // endTime between two records: the one at it is the newest included.
  auto bodies = range("&count=1000&endTime=" + std::to_string(rb(5000).body.time + 1));
  ASSERT_EQ(bodies.size(), 1000u);
  for (uint32_t i = 0; i < 1000; ++i) {
    const StoredRecord& expected = rb(4001 + i);
    ASSERT_EQ(bodies[i].time, expected.body.time);
    ASSERT_EQ(bodies[i].value, expected.body.value);
    ASSERT_EQ(bodies[i].data, expected.body.data);
  }
  // Clamped at beginTime, inclusive.
  auto clamped = range("&count=1000&beginTime=" + std::to_string(rb(4500).body.time) +
                       "&endTime=" + std::to_string(rb(5000).body.time));
  ASSERT_EQ(clamped.size(), 501u);
  EXPECT_EQ(clamped.front().time, rb(4500).body.time);
  EXPECT_EQ(clamped.back().time, rb(5000).body.time);
}

TEST_F(EmbeddedQueryTest, CodeTypeCapsCountAndAnswersEmptyForNothingToSend) {
  EXPECT_EQ(range("&count=1000000").size(), static_cast<size_t>(QueryService::kMaxCount));
  EXPECT_TRUE(range("&count=0").empty());
  EXPECT_TRUE(range("&count=10&beginTime=5&endTime=4").empty());
  EXPECT_TRUE(range("&count=10&endTime=" + std::to_string(rb(0).body.time - 1)).empty());
  Answer unknown = get(q_, "/QryCodeType?types=tick&codes=NOPE&count=10");
  EXPECT_EQ(unknown.status, 200);
  EXPECT_EQ(unknown.body, "");
}

TEST_F(EmbeddedQueryTest, CodeTypeServesABackwardWalkWithoutGapsOrRepeats) {
  // The range driver's walk: steps of 1000 from the end, each ending before the previous start.
  const int64_t begin = rb(10000).body.time;
  int64_t cursor = rb(13499).body.time;
  std::vector<int64_t> seen;
  for (;;) {
    auto step = range("&count=1000&beginTime=" + std::to_string(begin) +
                      "&endTime=" + std::to_string(cursor));
    for (auto it = step.rbegin(); it != step.rend(); ++it) seen.push_back(it->time);
    if (step.size() < 1000 || step.front().time <= begin) break;
    cursor = step.front().time - 1;
  }
  ASSERT_EQ(seen.size(), 3500u);
  for (uint32_t i = 0; i < 3500; ++i) ASSERT_EQ(seen[i], rb(13499 - i).body.time);
}

// Follows "page" until "islast", as the page driver does; returns every record once per time it
// was answered.
std::vector<Row> walkPages(const QueryService& q, const std::string& query, const std::string& key,
                           std::vector<Answer>* answers = nullptr) {
  std::vector<Row> rows;
  std::string page = "0", dataMtm = "0";
  for (int guard = 0; guard < 10000; ++guard) {
    Answer a =
        get(q, "/QryPageTgtDetailV2?type=" + key + query + "&datamtm=" + dataMtm + "&page=" + page);
    EXPECT_EQ(a.status, 200) << a.body;
    std::vector<CloudTopic> topics;
    int64_t maxTime = 0;
    EXPECT_TRUE(TopicUtils::tgtTopicRaw2Topics(key, a.body, topics, maxTime));
    auto batch = rowsOf(topics);
    rows.insert(rows.end(), batch.begin(), batch.end());
    if (page == "0") dataMtm = header(a, "relationmtm");
    page = header(a, "page");
    const bool stop = header(a, "islast") == "true" || a.status != 200;
    if (answers) answers->push_back(std::move(a));
    if (stop) break;
  }
  return rows;
}

std::vector<Row> expectedRows(const DataStore& store, const std::string& key,
                              const std::vector<std::string>& targets, int64_t beginTime,
                              int64_t endTime, int64_t beginMtm, int64_t endMtm,
                              int64_t* maxMtm = nullptr) {
  std::vector<Row> rows;
  for (const Series* s : store.seriesOfKey(key)) {
    if (!targets.empty() && std::find(targets.begin(), targets.end(), s->target) == targets.end()) {
      continue;
    }
    for (const StoredRecord& r : s->records) {
      if (r.body.time < beginTime || r.body.time > endTime || r.mtm < beginMtm || r.mtm > endMtm) {
        continue;
      }
      rows.emplace_back(s->target, r.body.time, r.body.data);
      if (maxMtm) *maxMtm = std::max(*maxMtm, r.mtm);
    }
  }
  return rows;
}

TEST_F(EmbeddedQueryTest, PagesTogetherHoldEachMatchingRecordExactlyOnce) {
  constexpr int64_t kMax = INT64_MAX;
  const int64_t day1 = DemoData::kFirstDayUtcNs;
  const int64_t hour = 3'600'000'000'000;
  struct Case {
    std::string query;
    std::string key;
    std::vector<std::string> targets;
    int64_t beginTime, endTime, beginMtm, endMtm;
  };
  const Case cases[] = {
      {"&endTime=" + std::to_string(kMax) + "&endm=" + std::to_string(kMax),
       "kline1m",
       {},
       0,
       kMax,
       0,
       kMax},
      // Two targets, a modification window that also holds the day's settlement corrections.
      {"&tgt=SHFE.rb2410%2CDCE.m2409&endTime=" + std::to_string(kMax) + "&beginm=" +
           std::to_string(day1 + 3 * hour) + "&endm=" + std::to_string(day1 + 8 * hour),
       "tick",
       {"SHFE.rb2410", "DCE.m2409"},
       0,
       kMax,
       day1 + 3 * hour,
       day1 + 8 * hour},
      // A record-time window as well.
      {"&tgt=CFFEX.IF2409&beginTime=" + std::to_string(day1 + 2 * hour) + "&endTime=" +
           std::to_string(day1 + 2 * hour + 600'000'000'000) + "&endm=" + std::to_string(kMax),
       "tick",
       {"CFFEX.IF2409"},
       day1 + 2 * hour,
       day1 + 2 * hour + 600'000'000'000,
       0,
       kMax},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.query);
    std::vector<Answer> answers;
    auto got = walkPages(q_, c.query, c.key, &answers);
    int64_t maxMtm = 0;
    auto expected = expectedRows(*store_, c.key, c.targets, c.beginTime, c.endTime, c.beginMtm,
                                 c.endMtm, &maxMtm);
    ASSERT_GT(expected.size(), 1000u) << "a case with a single page proves little";
    EXPECT_EQ(answers.size(), (expected.size() + 999) / 1000);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(std::adjacent_find(got.begin(), got.end()) == got.end()) << "a repeated record";
    EXPECT_TRUE(got == expected) << got.size() << " records, expected " << expected.size();
    EXPECT_EQ(header(answers.front(), "namemaxmtm"), std::to_string(maxMtm));
    EXPECT_EQ(header(answers.front(), "relationmtm"), std::to_string(store_->maxMtm()));
    for (size_t i = 0; i + 1 < answers.size(); ++i) {
      EXPECT_EQ(header(answers[i], "islast"), "false");
      EXPECT_EQ(header(answers[i], "page"), std::to_string(i + 1));
    }
  }
}

TEST(PageQueryTest, SnapshotMarkExcludesRecordsModifiedLater) {
  auto before = test::LocalService::fromCsv(kSmall);
  QueryService q(before, 2, "n");
  Answer first = get(q, "/QryPageTgtDetailV2?type=k&endTime=100&endm=1000&datamtm=0&page=0");
  const std::string mark = header(first, "relationmtm");
  EXPECT_EQ(mark, "120");
  EXPECT_EQ(header(first, "islast"), "false");
  // New records arrive between the pages, one of them earlier in time than everything else.
  q.setStore(test::LocalService::fromCsv(std::string(kSmall) + "a,k,1,500,9,new-early\n"
                                                               "b,k,16,501,9,new-late\n"));
  Answer second =
      get(q, "/QryPageTgtDetailV2?type=k&endTime=100&endm=1000&datamtm=" + mark + "&page=1");
  EXPECT_EQ(header(second, "islast"), "true");
  EXPECT_EQ(first.body + second.body, "a,10,1,x\na,20,2,y\nb,15,3.5,z\n");
  // Without the mark the new records are part of the answer.
  std::vector<Answer> answers;
  auto fresh = walkPages(q, "&endTime=100&endm=1000", "k", &answers);
  EXPECT_EQ(fresh.size(), 5u);
  EXPECT_EQ(header(answers.front(), "namemaxmtm"), "501");
}

TEST(PageQueryTest, PageBeyondTheEndIsEmptyAndLast) {
  QueryService q(test::LocalService::fromCsv(kSmall), 2, "n");
  Answer a = get(q, "/QryPageTgtDetailV2?type=k&page=7");
  EXPECT_EQ(a.status, 200);
  EXPECT_EQ(a.body, "");
  EXPECT_EQ(header(a, "islast"), "true");
  Answer none = get(q, "/QryPageTgtDetailV2?type=unknown&page=0");
  EXPECT_EQ(none.body, "");
  EXPECT_EQ(header(none, "islast"), "true");
  EXPECT_EQ(header(none, "namemaxmtm"), "0");
}

TEST(QueryServiceTest, MalformedOrMissingParametersGive400NamingTheProblem) {
  QueryService q(test::LocalService::fromCsv(kSmall), 10, "n");
  const std::pair<std::string, std::string> cases[] = {
      {"/QryLast?types=k", "'codes'"},
      {"/QryLast?codes=a", "'types'"},
      {"/QryLast?codes=a&types=ce_", "ce_"},
      {"/QryCodeType?codes=a&count=1", "'types'"},
      {"/QryCodeType?types=k&count=1", "'codes'"},
      {"/QryCodeType?types=k&codes=a%2Cb&count=1", "exactly one"},
      {"/QryCodeType?types=k&codes=a", "'count'"},
      {"/QryCodeType?types=k&codes=a&count=-1", "'count'"},
      {"/QryCodeType?types=k&codes=a&count=1x", "'count'"},
      {"/QryCodeType?types=k&codes=a&count=1&beginTime=abc", "'beginTime'"},
      {"/QryCodeType?types=k&codes=a&count=1&endTime=99999999999999999999", "'endTime'"},
      {"/QryPageTgtDetailV2?page=0", "'type'"},
      {"/QryPageTgtDetailV2?type=k&page=-1", "'page'"},
      {"/QryPageTgtDetailV2?type=k&page=2147483648", "'page'"},
      {"/QryPageTgtDetailV2?type=k&datamtm=-5", "'datamtm'"},
      {"/QryPageTgtDetailV2?type=k&endm=%20", "'endm'"},
  };
  for (const auto& [query, mention] : cases) {
    Answer a = get(q, query);
    EXPECT_EQ(a.status, 400) << query;
    EXPECT_NE(a.body.find(mention), std::string::npos) << query << " -> " << a.body;
  }
  EXPECT_EQ(get(q, "/QryLast?codes=a%2C&types=k").status, 200) << "later requests unharmed";
  EXPECT_EQ(get(q, "/Nothing").status, 404);
}

}  // namespace
}  // namespace hqserver
}  // namespace orvex
