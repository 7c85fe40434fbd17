// Loading data and the endpoints' answers, checked against the data they are computed from.
#include <Poco/URI.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <sstream>
#include <tuple>

#include "LocalService.h"
#include "hqserver/CsvLoader.h"
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
  auto it =
      std::find_if(a.headers.begin(), a.headers.end(), [&](auto& h) { return h.first == name; });
  return it == a.headers.end() ? "<absent>" : it->second;
}

TEST(CsvLoaderTest, ReadsRecordsWithHeaderCommentsCrlfAndCommasInData) {
  auto store = test::LocalService::fromCsv(
      "target,key,time,mtm,value,data\r\n# a comment\n\nIF,tick,100,105,3500.2,1,2,3\r\n"
      "IF,tick,-5,0,-1e3,\nIF,tick,100,106,1,same time: kept in the order read\n");
  std::string got;
  for (const auto& r : store->find("IF", "tick")->records) {
    got += std::to_string(r.body.time) + "/" + std::to_string(r.mtm) + "/" +
           std::to_string(r.body.value) + "/" + r.body.data + "|";
  }
  EXPECT_EQ(got,
            "-5/0/-1000.000000/|100/105/3500.200000/1,2,3|"
            "100/106/1.000000/same time: kept in the order read|");
}

TEST(CsvLoaderTest, RefusesMalformedLinesNamingFileAndLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"a,k,1,2,3\n", "f.csv:1: expected 6 columns"},
      {"ok,k,1,2,3,d\n,k,1,2,3,d\n", "f.csv:2: empty target"},
      {"a,,1,2,3,d\n", "f.csv:1: empty key"},
      {"a,k,1x,2,3,d\n", "f.csv:1: time is not a 64-bit integer"},
      {"a,k,1,99999999999999999999,3,d\n", "f.csv:1: mtm is not a 64-bit integer"},
      {"a,k,1,2,nan,d\n", "f.csv:1: value is not a number"},
      {"target,key,time,mtm,value,data\nx\n", "f.csv:2: expected 6 columns"}};
  for (const auto& [text, expected] : cases) {
    DataStore store;
    std::istringstream in(text);
    std::string error;
    EXPECT_FALSE(CsvLoader::load(in, "f.csv", store, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "got: " << error;
  }
}

const char kSmall[] = "a,k,10,110,1,x\na,k,20,120,2,y\nb,k,15,115,3.5,z\na,j,5,105,4,w\n";

TEST(QryCodeTypeTest, AnswersTheLatestCountRecordsInTheRangeAscending) {
  auto store = test::LocalService::embeddedData();
  QueryService q(store, 1000, "demo");
  const auto& rb = store->find("SHFE.rb2410", "tick")->records;
  auto range = [&q](const std::string& query) {
    Answer a = get(q, "/QryCodeType?types=tick&codes=SHFE.rb2410" + query);
    EXPECT_EQ(a.status, 200) << a.body;
    std::vector<TopicBody> out;
    EXPECT_TRUE(TopicUtils::basicRec2TopicBodys(a.body, out));
    return out;
  };
  // Which records of a longer range come back is the plug-in tests' (getData against the data).
  auto clamped = range("&count=1000&beginTime=" + std::to_string(rb[4500].body.time) +
                       "&endTime=" + std::to_string(rb[5000].body.time));
  ASSERT_EQ(clamped.size(), 501u) << "both ends inclusive";
  EXPECT_EQ(clamped.front().time, rb[4500].body.time);
  EXPECT_EQ(clamped.back().time, rb[5000].body.time);

  EXPECT_EQ(range("&count=1000000").size(), static_cast<size_t>(QueryService::kMaxCount));
  EXPECT_TRUE(range("&count=0").empty());
  EXPECT_TRUE(range("&count=10&beginTime=5&endTime=4").empty());
  EXPECT_TRUE(range("&count=10&endTime=" + std::to_string(rb[0].body.time - 1)).empty());
  EXPECT_EQ(get(q, "/QryCodeType?types=tick&codes=NOPE&count=10").body, "");
}

using Row = std::tuple<std::string, int64_t, std::string>;  // target, time, data

TEST(PageQueryTest, PagesTogetherHoldEachMatchingRecordExactlyOnce) {
  auto store = test::LocalService::embeddedData();
  QueryService q(store, 1000, "demo");
  const int64_t day1 = DemoData::kFirstDayUtcNs, hour = 3'600'000'000'000, kMax = INT64_MAX;
  struct Case {
    std::string key, targets;  // targets: comma-separated, empty for all
    int64_t beginTime, endTime, beginMtm, endMtm;
  };
  const Case cases[] = {
      {"kline1m", "", 0, kMax, 0, kMax},
      // A modification window that also holds the day's settlement corrections.
      {"tick", "SHFE.rb2410,DCE.m2409", 0, kMax, day1 + 3 * hour, day1 + 8 * hour},
      {"tick", "CFFEX.IF2409", day1 + 2 * hour, day1 + 2 * hour + 600'000'000'000, 0, kMax}};
  for (const Case& c : cases) {
    const std::string query =
        (c.targets.empty() ? "" : "&tgt=" + c.targets) +
        "&beginTime=" + std::to_string(c.beginTime) + "&endTime=" + std::to_string(c.endTime) +
        "&beginm=" + std::to_string(c.beginMtm) + "&endm=" + std::to_string(c.endMtm);
    SCOPED_TRACE(query);
    std::vector<Row> expected;
    int64_t maxMtm = 0;
    for (const Series& s : store->series()) {
      const bool listed = c.targets.empty() ||
                          ("," + c.targets + ",").find("," + s.target + ",") != std::string::npos;
      if (s.key != c.key || !listed) continue;
      for (const StoredRecord& r : s.records) {
        if (r.body.time < c.beginTime || r.body.time > c.endTime || r.mtm < c.beginMtm ||
            r.mtm > c.endMtm) {
          continue;
        }
        expected.emplace_back(s.target, r.body.time, r.body.data);
        maxMtm = std::max(maxMtm, r.mtm);
      }
    }
    ASSERT_GT(expected.size(), 1000u) << "a case with a single page proves little";

    // Follows "page" until "islast" as the page driver does, sending back the first page's mark.
    std::vector<Row> got;
    std::vector<Answer> answers;
    for (std::string page = "0", mark = "0"; answers.size() < 10000;) {
      const Answer& a = answers.emplace_back(get(
          q, "/QryPageTgtDetailV2?type=" + c.key + query + "&datamtm=" + mark + "&page=" + page));
      std::vector<CloudTopic> topics;
      int64_t maxTime = 0;
      EXPECT_TRUE(TopicUtils::tgtTopicRaw2Topics(c.key, a.body, topics, maxTime)) << a.body;
      for (const auto& t : topics) {
        for (const auto& b : t.bodies) got.emplace_back(t.target, b.time, b.data);
      }
      mark = header(answers.front(), "relationmtm");
      page = header(a, "page");
      if (header(a, "islast") != "false") break;
    }
    EXPECT_EQ(answers.size(), (expected.size() + 999) / 1000);
    std::sort(got.begin(), got.end());
    std::sort(expected.begin(), expected.end());
    EXPECT_TRUE(got == expected) << got.size() << " records, expected " << expected.size();
    EXPECT_EQ(header(answers.front(), "namemaxmtm"), std::to_string(maxMtm));
    EXPECT_EQ(header(answers.front(), "relationmtm"), std::to_string(store->maxMtm()));
    for (size_t i = 0; i + 1 < answers.size(); ++i) {
      EXPECT_EQ(header(answers[i], "islast"), "false");
      EXPECT_EQ(header(answers[i], "page"), std::to_string(i + 1));
    }
  }
}

TEST(PageQueryTest, SnapshotMarkExcludesRecordsModifiedLater) {
  QueryService q(test::LocalService::fromCsv(kSmall), 2, "n");
  const std::string query = "/QryPageTgtDetailV2?type=k&endTime=100&endm=1000&datamtm=";
  Answer first = get(q, query + "0&page=0");
  EXPECT_EQ(header(first, "relationmtm"), "120");
  EXPECT_EQ(header(first, "islast"), "false");
  // New records arrive between the pages, one of them earlier in time than everything else.
  q.setStore(test::LocalService::fromCsv(std::string(kSmall) +
                                         "a,k,1,500,9,new-early\nb,k,16,501,9,new-late\n"));
  Answer second = get(q, query + "120&page=1");
  EXPECT_EQ(header(second, "islast"), "true");
  EXPECT_EQ(first.body + second.body, "a,10,1,x\na,20,2,y\nb,15,3.5,z\n");
  // Without the mark the new records are part of the answer.
  EXPECT_EQ(header(get(q, query + "0&page=0"), "namemaxmtm"), "501");
  Answer beyond = get(q, "/QryPageTgtDetailV2?type=k&page=7");
  EXPECT_EQ(beyond.body + header(beyond, "islast"), "true") << "empty and last";
  Answer none = get(q, "/QryPageTgtDetailV2?type=unknown&page=0");
  EXPECT_EQ(none.body + header(none, "islast") + header(none, "namemaxmtm"), "true0");
}

TEST(QueryServiceTest, QryLastAnswersInTheOrderAskedAndBadParametersGet400) {
  QueryService q(test::LocalService::fromCsv(kSmall), 10, "n");
  // Which targets and keys come back is the plug-in tests'; the order is the one asked for.
  EXPECT_EQ(get(q, "/QryLast?codes=b%2Ca%2C&types=ce_k").body, "b,15,3.5,z\na,20,2,y\n");
  EXPECT_EQ(get(q, "/QryLast?codes=&types=k").body, "") << "no codes: no target, not all";
  const std::pair<std::string, std::string> cases[] = {
      {"/QryLast?codes=a&types=ce_", "ce_"},
      {"/QryCodeType?types=k&count=1", "'codes'"},
      {"/QryCodeType?types=k&codes=a%2Cb&count=1", "exactly one"},
      {"/QryCodeType?types=k&codes=a", "'count'"},
      {"/QryCodeType?types=k&codes=a&count=1&beginTime=abc", "'beginTime'"},
      {"/QryCodeType?types=k&codes=a&count=1&endTime=99999999999999999999", "'endTime'"},
      {"/QryPageTgtDetailV2?page=0", "'type'"},
      {"/QryPageTgtDetailV2?type=k&page=2147483648", "'page'"},
      {"/QryPageTgtDetailV2?type=k&datamtm=-5", "'datamtm'"},
      {"/QryPageTgtDetailV2?type=k&endm=%20", "'endm'"}};
  for (const auto& [query, mention] : cases) {
    Answer a = get(q, query);
    EXPECT_EQ(a.status, 400) << query;
    EXPECT_NE(a.body.find(mention), std::string::npos) << query << " -> " << a.body;
  }
  EXPECT_EQ(get(q, "/Nothing").status, 404);
}

}  // namespace
}  // namespace hqserver
}  // namespace orvex
