// Times, record output formats, the progress line and the text conversion of the command line.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>

#include "DisplayText.h"
#include "ProgressLine.h"
#include "RecordWriter.h"
#include "TimeText.h"

namespace orvex {
namespace cli {
namespace {

constexpr int64_t kDay20240603 = 1717372800LL * 1000000000;

int64_t parsed(const std::string& text) {
  int64_t ns = 12345;
  EXPECT_TRUE(parseTime(text, ns)) << text;
  return ns;
}

TEST(TimeTextTest, ReadsNanosecondsAndIsoFormsWithOffsets) {
  EXPECT_EQ(parsed("-5"), -5);
  EXPECT_EQ(parsed("9223372036854775807"), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(parsed("2024-06-03"), kDay20240603);
  EXPECT_EQ(parsed("2024-06-03T01:30"), kDay20240603 + 5400LL * 1000000000);
  EXPECT_EQ(parsed("2024-06-03 01:30:00Z"), kDay20240603 + 5400LL * 1000000000);
  EXPECT_EQ(parsed("2024-06-03T00:00:00.25Z"), kDay20240603 + 250000000);
  EXPECT_EQ(parsed("2024-06-03T00:00:00.123456789123"), kDay20240603 + 123456789);
  EXPECT_EQ(parsed("1969-12-31T23:59:59.5Z"), -500000000);
  EXPECT_EQ(parsed("2024-02-29"), parsed("2024-03-01") - 86400LL * 1000000000);
  EXPECT_EQ(parsed("2024-06-03T08:00:00+08:00"), kDay20240603);
  EXPECT_EQ(parsed("2024-06-02T19:00:00-0500"), kDay20240603);
}

TEST(TimeTextTest, RefusesMalformedTextAndLeavesTheValue) {
  for (const char* bad :
       {"", "-", "12a", "1.5", "2024-6-3", "2024-13-01", "2024-02-30", "2023-02-29",
        "2024-06-03T24:00", "2024-06-03T01", "2024-06-03T01:30:00.", "2024-06-03T01:30:00+8",
        "2024-06-03X", "99999999999999999999", "2300-01-01"}) {
    int64_t ns = 7;
    EXPECT_FALSE(parseTime(bad, ns)) << bad;
    EXPECT_EQ(ns, 7) << bad;
  }
}

TEST(TimeTextTest, FormatsUtcWithTheDigitsNeeded) {
  EXPECT_EQ(formatUtc(kDay20240603), "2024-06-03 00:00:00.000");
  EXPECT_EQ(formatUtc(kDay20240603 + 250000000), "2024-06-03 00:00:00.250");
  EXPECT_EQ(formatUtc(kDay20240603 + 2000), "2024-06-03 00:00:00.000002");
  EXPECT_EQ(formatUtc(-1), "1969-12-31 23:59:59.999999999");
}

std::vector<CloudTopic> sampleTopics() {
  return {{"CFFEX.IF2409", "tick", {{100, 3.5, "o=1,h=2"}, {200, -0.25, "say \"hi\""}}},
          {"DCE.m2409", "tick", {{300, 1e-7, ""}}}};
}

std::string written(OutputFormat format, const std::vector<CloudTopic>& topics) {
  std::ostringstream out;
  auto writer = makeRecordWriter(format, out, false);
  writer->write(topics);
  writer->finish();
  return out.str();
}

TEST(RecordWriterTest, CsvQuotesFieldsThatNeedItAndIsUtf8) {
  EXPECT_EQ(written(OutputFormat::Csv, sampleTopics()),
            "target,key,time,value,data\n"
            "CFFEX.IF2409,tick,100,3.5,\"o=1,h=2\"\n"
            "CFFEX.IF2409,tick,200,-0.25,\"say \"\"hi\"\"\"\n"
            "DCE.m2409,tick,300,1e-07,\n");
  // GBK data becomes UTF-8; data already UTF-8 stays as it is.
  CloudTopic cn{"T", "k", {{1, 2, "\xD6\xD0\xCE\xC4"}, {2, 2, "\xE4\xB8\xAD"}}};
  EXPECT_EQ(written(OutputFormat::Csv, {cn}),
            "target,key,time,value,data\nT,k,1,2,\xE4\xB8\xAD\xE6\x96\x87\nT,k,2,2,\xE4\xB8\xAD\n");
}

TEST(RecordWriterTest, JsonWritesOneEscapedObjectPerRecord) {
  CloudTopic odd{"T", "k", {{1, std::nan(""), "tab\there\x01"}}};
  EXPECT_EQ(written(OutputFormat::Json, {odd}),
            "{\"target\":\"T\",\"key\":\"k\",\"time\":1,\"utc\":\"1970-01-01T00:00:00.000000001Z\","
            "\"value\":null,\"data\":\"tab\\there\\u0001\"}\n");
  const std::string lines = written(OutputFormat::Json, sampleTopics());
  EXPECT_EQ(std::count(lines.begin(), lines.end(), '\n'), 3);
}

// Every column but the last is padded, values to the right. Streaming fits the columns to the
// first batch and prints each batch at once.
TEST(RecordWriterTest, TableAlignsColumnsAndStreamsBatches) {
  const std::string table =
      "target        key   time                           value  data\n"
      "CFFEX.IF2409  tick  1970-01-01 00:00:00.000000100    3.5  o=1,h=2\n"
      "CFFEX.IF2409  tick  1970-01-01 00:00:00.000000200  -0.25  say \"hi\"\n"
      "DCE.m2409     tick  1970-01-01 00:00:00.000000300  1e-07  \n";
  EXPECT_EQ(written(OutputFormat::Table, sampleTopics()), table);
  std::ostringstream out;
  auto writer = makeRecordWriter(OutputFormat::Table, out, true);
  writer->write({sampleTopics()[0]});
  EXPECT_EQ(out.str(), table.substr(0, table.rfind("DCE.m2409")));
  writer->write({sampleTopics()[1]});
  writer->finish();
  EXPECT_EQ(out.str(), table);
}

TEST(DisplayTextTest, RecognisesUtf8) {
  EXPECT_TRUE(isValidUtf8("plain"));
  EXPECT_TRUE(isValidUtf8("\xE4\xB8\xAD\xF0\x9F\x98\x80"));
  EXPECT_FALSE(isValidUtf8("\xE4\xB8"));                                   // truncated
  EXPECT_FALSE(isValidUtf8("\xC0\xAF"));                                   // overlong
  EXPECT_FALSE(isValidUtf8("\xED\xA0\x80"));                               // surrogate
  EXPECT_EQ(messageText("\xCD\xF8\xC2\xE7"), "\xE7\xBD\x91\xE7\xBB\x9C");  // the GBK of "network"
}

// Counts, rate and time; a shorter line drawn over a longer one blanks out what is left of it.
TEST(ProgressLineTest, FormatsAndRedrawsInPlace) {
  EXPECT_EQ(ProgressLine::format(12345, 13, 1.5),
            "12,345 records | 13 batches | 8,230 rec/s | 1.5 s");
  EXPECT_EQ(ProgressLine::format(0, 0, 0), "0 records | 0 batches | 0 rec/s | 0.0 s");
  EXPECT_EQ(groupDigits(1000000), "1,000,000");
  EXPECT_EQ(groupDigits(999), "999");

  std::ostringstream err;
  ProgressLine line(err, true);
  line.draw(100000, 100, 1);
  line.draw(5, 1, 1);
  line.finish();
  const std::string first = ProgressLine::format(100000, 100, 1);
  const std::string second = ProgressLine::format(5, 1, 1);
  EXPECT_EQ(err.str(),
            "\r" + first + "\r" + second + std::string(first.size() - second.size(), ' ') + "\n");
}

}  // namespace
}  // namespace cli
}  // namespace orvex
