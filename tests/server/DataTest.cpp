// The data the service answers from: the embedded data set, the CSV loader and the store.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>

#include "LocalService.h"
#include "hqserver/CsvLoader.h"
#include "hqserver/DataStore.h"

namespace orvex {
namespace hqserver {
namespace {

TEST(DemoDataTest, HoldsAMillionOrderedRecordsOfFourTargetsAndTwoKeys) {
  auto store = test::LocalService::embeddedData();
  EXPECT_GE(store->size(), 1000000u);
  EXPECT_EQ(store->keys(), (std::vector<std::string>{"kline1m", "tick"}));
  EXPECT_EQ(store->targets().size(), 4u);
  ASSERT_EQ(store->series().size(), 8u);
  bool mtmOrderDiffers = false;
  for (const Series& s : store->series()) {
    ASSERT_GT(s.size(), 0u) << s.target << "@" << s.key;
    int64_t lastMtm = 0;
    for (size_t i = 0; i < s.size(); ++i) {
      const StoredRecord& r = s.records[i];
      ASSERT_GE(r.mtm, r.body.time) << "modified before it happened";
      if (i > 0) {
        ASSERT_LT(s.records[i - 1].body.time, r.body.time);
      }
      if (r.mtm < lastMtm) mtmOrderDiffers = true;
      lastMtm = r.mtm;
    }
  }
  EXPECT_TRUE(mtmOrderDiffers) << "paging by modification time would select nothing special";
}

TEST(DataStoreTest, OrdersEachSeriesByTimeAndFindsIt) {
  DataStore store;
  store.add("b", "k", 30, 31, 3.0, "c");
  store.add("a", "k", 20, 21, 2.0, "x");
  store.add("b", "k", 10, 11, 1.0, "a");
  store.add("b", "k", 10, 12, 1.5, "b");  // same time: keeps the order added
  store.add("a", "j", 5, 50, 0.5, "");
  store.seal();
  const Series* b = store.find("b", "k");
  ASSERT_NE(b, nullptr);
  std::vector<std::string> data;
  for (const auto& r : b->records) data.push_back(r.body.data);
  EXPECT_EQ(data, (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(store.find("a", "x"), nullptr);
  EXPECT_EQ(store.find("c", "k"), nullptr);
  ASSERT_EQ(store.seriesOfKey("k").size(), 2u);
  EXPECT_EQ(store.seriesOfKey("k")[0]->target, "a");
  EXPECT_TRUE(store.seriesOfKey("zz").empty());
  EXPECT_EQ(store.maxMtm(), 50);
}

TEST(CsvLoaderTest, ReadsRecordsWithHeaderCommentsCrlfAndCommasInData) {
  auto store = test::LocalService::fromCsv(
      "target,key,time,mtm,value,data\r\n"
      "# a comment\n"
      "\n"
      "IF,tick,100,105,3500.2,1,2,3\r\n"
      "IF,tick,-5,0,-1e3,\n");
  ASSERT_EQ(store->size(), 2u);
  const auto& records = store->find("IF", "tick")->records;
  const auto& first = records[0];
  EXPECT_EQ(first.body.time, -5);
  EXPECT_EQ(first.body.value, -1000.0);
  EXPECT_EQ(first.body.data, "");
  const auto& second = records[1];
  EXPECT_EQ(second.mtm, 105);
  EXPECT_EQ(second.body.data, "1,2,3");
}

TEST(CsvLoaderTest, RefusesMalformedLinesNamingFileAndLine) {
  const std::pair<std::string, std::string> cases[] = {
      {"a,k,1,2,3\n", "f.csv:1: expected 6 columns"},
      {"ok,k,1,2,3,d\n,k,1,2,3,d\n", "f.csv:2: empty target"},
      {"a,,1,2,3,d\n", "f.csv:1: empty key"},
      {"a,k,1x,2,3,d\n", "f.csv:1: time is not a 64-bit integer"},
      {"a,k,1,99999999999999999999,3,d\n", "f.csv:1: mtm is not a 64-bit integer"},
      {"a,k,1,2,nan,d\n", "f.csv:1: value is not a number"},
      {"target,key,time,mtm,value,data\nx\n", "f.csv:2: expected 6 columns"},
  };
  for (const auto& [text, expected] : cases) {
    DataStore store;
    std::istringstream in(text);
    std::string error;
    EXPECT_FALSE(CsvLoader::load(in, "f.csv", store, error)) << text;
    EXPECT_EQ(error.rfind(expected, 0), 0u) << "got: " << error;
  }
}

TEST(CsvLoaderTest, LoadsADirectoryInNameOrderAndReportsMissingPaths) {
  namespace fs = std::filesystem;
  const fs::path dir = fs::temp_directory_path() / ("hqserver-csv-" + std::to_string(getpid()));
  fs::create_directories(dir);
  std::ofstream(dir / "2.csv") << "a,k,2,2,2,second\n";
  std::ofstream(dir / "1.csv") << "a,k,2,2,1,first\n";
  std::ofstream(dir / "notes.txt") << "not data\n";
  std::string error;
  auto store = CsvLoader::loadPath(dir.string(), error);
  ASSERT_NE(store, nullptr) << error;
  ASSERT_EQ(store->size(), 2u);
  EXPECT_EQ(store->find("a", "k")->records[0].body.data,
            "first");  // equal times keep the file order

  std::ofstream(dir / "3.csv") << "a,k,2,2,1,ok\nbroken\n";
  EXPECT_EQ(CsvLoader::loadPath(dir.string(), error), nullptr);
  EXPECT_NE(error.find("3.csv:2:"), std::string::npos) << error;

  EXPECT_EQ(CsvLoader::loadPath((dir / "absent.csv").string(), error), nullptr);
  EXPECT_NE(error.find("absent.csv"), std::string::npos);
  fs::remove_all(dir);
}

}  // namespace
}  // namespace hqserver
}  // namespace orvex
