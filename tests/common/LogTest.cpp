// Log line layout, level handling, message pieces and the debug print.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <thread>
#include <vector>

#include "LogCapture.h"
#include "orvex/DebugUtils.h"
#include "orvex/Log.h"
#include "orvex/Timestamp.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace {

using ::testing::ElementsAre;
using ::testing::EndsWith;
using ::testing::HasSubstr;
using ::testing::IsEmpty;
using ::testing::Not;
using ::testing::SizeIs;
using ::testing::StartsWith;

log4cxx::LoggerPtr logger() { return log4cxx::Logger::getLogger(kLoggerName); }

// Sets the time prefix switch for one test and restores it afterwards.
class TimePrefix {
 public:
  explicit TimePrefix(bool enabled) : previous_(isTimeEnabled()) { setTimeEnabled(enabled); }
  ~TimePrefix() { setTimeEnabled(previous_); }

 private:
  bool previous_;
};

// A message piece that counts its conversions to text.
struct Counted {
  int* conversions;
};
std::ostream& operator<<(std::ostream& os, const Counted& counted) {
  ++*counted.conversions;
  return os << "counted";
}

TEST(LogLineTest, WithoutTimeTheLineStartsWithTheTag) {
  TimePrefix off(false);
  test::LogCapture capture;
  ORVEX_LOG_DEBUG(logger(), "hello");
  EXPECT_THAT(capture.lines(), ElementsAre("[DEBUG] DaZaviVor hello"));
}

TEST(LogLineTest, WithTimeTheDateTimeAndABlankComeFirst) {
  TimePrefix on(true);
  test::LogCapture capture;
  ORVEX_LOG_INFO(logger(), "hello " << 7);
  std::vector<std::string> lines = capture.lines();
  ASSERT_THAT(lines, SizeIs(1));

  const std::string rest = "[INFO ] DaZaviVor hello 7";
  ASSERT_THAT(lines[0], EndsWith(" " + rest));
  const std::string prefix = lines[0].substr(0, lines[0].size() - rest.size() - 1);
  // The prefix is a date-time text of the runtime's layout, whatever the clock says.
  EXPECT_EQ(Timestamp(0, KvTimeZoneLocal).toDateTimeString().size(), prefix.size());
  EXPECT_THAT(prefix, Not(HasSubstr("[")));
}

TEST(LogLineTest, EachLevelHasItsTagAndLog4cxxLevel) {
  TimePrefix off(false);
  test::LogCapture capture;
  ORVEX_LOG_TRACE(logger(), "t");
  ORVEX_LOG_DEBUG(logger(), "d");
  ORVEX_LOG_INFO(logger(), "i");
  ORVEX_LOG_WARN(logger(), "w");
  ORVEX_LOG_ERROR(logger(), "e");

  std::vector<test::LogCapture::Entry> entries = capture.entries();
  ASSERT_THAT(entries, SizeIs(5));
  const char* levels[] = {"TRACE", "DEBUG", "INFO", "WARN", "ERROR"};
  const char* texts[] = {"[TRACE] DaZaviVor t", "[DEBUG] DaZaviVor d", "[INFO ] DaZaviVor i",
                         "[WARN ] DaZaviVor w", "[ERROR] DaZaviVor e"};
  for (size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(levels[i], entries[i].level);
    EXPECT_EQ(texts[i], entries[i].text);
  }
}

TEST(LogLevelTest, DisabledLevelConvertsNothing) {
  test::LogCapture capture(log4cxx::Level::getWarn());
  int conversions = 0;
  Counted counted{&conversions};
  ORVEX_LOG_TRACE(logger(), "x" << counted);
  ORVEX_LOG_DEBUG(logger(), counted << 1 << counted);
  ORVEX_LOG_INFO(logger(), 2 << counted);
  EXPECT_EQ(0, conversions);
  EXPECT_THAT(capture.lines(), IsEmpty());

  ORVEX_LOG_WARN(logger(), "x" << counted);
  ORVEX_LOG_ERROR(logger(), 3 << counted);
  EXPECT_EQ(2, conversions);
  EXPECT_THAT(capture.lines(), SizeIs(2));
}

TEST(LogLevelTest, ArgumentsAreEvaluatedOnlyWhenEnabled) {
  test::LogCapture capture(log4cxx::Level::getInfo());
  int calls = 0;
  auto piece = [&calls]() {
    ++calls;
    return std::string("p");
  };
  ORVEX_LOG_DEBUG(logger(), piece());
  EXPECT_EQ(0, calls);
  ORVEX_LOG_INFO(logger(), piece());
  EXPECT_EQ(1, calls);
}

class LogPiecesTest : public ::testing::Test {
 protected:
  std::string logged() {
    std::vector<std::string> lines = capture_.lines();
    capture_.clear();
    if (lines.size() != 1) return "<" + std::to_string(lines.size()) + " lines>";
    const std::string head = "[DEBUG] DaZaviVor ";
    return lines[0].compare(0, head.size(), head) == 0 ? lines[0].substr(head.size())
                                                       : "<no head>" + lines[0];
  }

  TimePrefix off_{false};
  test::LogCapture capture_;
};

TEST_F(LogPiecesTest, NumbersOfEveryWidth) {
  int32_t i32 = -32;
  int64_t i64 = INT64_MIN;
  uint32_t u32 = UINT32_MAX;
  size_t size = 12;
  long long ll = -9;
  ORVEX_LOG_DEBUG(logger(), "a" << i32 << ',' << i64 << ',' << u32 << ',' << size << ',' << ll);
  EXPECT_EQ("a-32,-9223372036854775808,4294967295,12,-9", logged());

  ORVEX_LOG_DEBUG(logger(), i64);
  EXPECT_EQ("-9223372036854775808", logged());
}

TEST_F(LogPiecesTest, TextsBoolsAndEnumerations) {
  std::string s = "str";
  const char* p = "ptr";
  const char* none = nullptr;
  int8_t small = -8;
  ORVEX_LOG_DEBUG(logger(),
                  s << p << true << false << 'c' << std::string() << none << small << TIMEOUT);
  EXPECT_EQ("strptr10c(null)-8-23", logged());
}

TEST_F(LogPiecesTest, RecordsTheSameBeforeAndAfterTheStream) {
  ResultStatus status(INVALID_PARAM, "x");
  TopicReq req;
  req.key = "k";
  PageResponse page;
  page.page = 3;
  page.isLast = true;
  const std::string records =
      "INVALID_PARAM@x|key=k,targetSize=0,beginTime=0,endTime=0,maxCount=0,flags=|"
      "page=3,isLast=1,relationMtm=0,nameMaxMtm=0";

  ORVEX_LOG_DEBUG(logger(), status << '|' << req << '|' << page << 5);
  EXPECT_EQ(records + "5", logged());
  // A piece only std::ostream can write switches the buffer; later pieces must follow it.
  ORVEX_LOG_DEBUG(logger(), 0.5 << status << '|' << req << '|' << page << 5 << true);
  EXPECT_EQ("0.5" + records + "51", logged());
}

TEST_F(LogPiecesTest, StreamOnlyPieces) {
  int conversions = 0;
  ORVEX_LOG_DEBUG(logger(), "a" << Counted{&conversions} << "b" << reinterpret_cast<void*>(0x1f)
                                << std::hex << 255);
  // std::hex reaches the stream, but integers are written in decimal regardless.
  EXPECT_EQ("acountedb0x1f255", logged());
  EXPECT_EQ(1, conversions);
}

TEST(LogThreadsTest, ConcurrentLinesStayWhole) {
  TimePrefix off(false);
  test::LogCapture capture;
  constexpr int kThreads = 4;
  constexpr int kLines = 200;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kLines; ++i) {
        ORVEX_LOG_DEBUG(logger(), "thread=" << t << ",line=" << i << ",end");
      }
    });
  }
  for (std::thread& thread : threads) thread.join();

  std::vector<std::string> lines = capture.lines();
  ASSERT_THAT(lines, SizeIs(kThreads * kLines));
  for (const std::string& line : lines) {
    EXPECT_THAT(line, StartsWith("[DEBUG] DaZaviVor thread="));
    EXPECT_THAT(line, EndsWith(",end"));
  }
}

std::string localText(int64_t nsec) {
  return Timestamp(TopicUtils::nsec2msec(nsec), KvTimeZoneLocal).toLocalString(' ');
}

TEST(DebugPrintTest, EmptyPeriod) {
  TimePrefix off(false);
  test::LogCapture capture;
  DebugUtils::debugPrint("T", UtcTimePeriod{0, 0});
  const std::string epoch = localText(0);
  EXPECT_THAT(capture.lines(),
              ElementsAre("[DEBUG] DaZaviVor T,time=[" + epoch + "," + epoch + "]=[0,0]"));
}

TEST(DebugPrintTest, NegativeAndSubMillisecondValues) {
  TimePrefix off(false);
  test::LogCapture capture;
  DebugUtils::debugPrint("T", UtcTimePeriod{-1500000000, -1});
  std::vector<std::string> lines = capture.lines();
  ASSERT_THAT(lines, SizeIs(1));
  EXPECT_THAT(lines[0], EndsWith("]=[-1500000000,-1]"));
  // -1 ns lies in the millisecond before the epoch, not at it.
  EXPECT_THAT(lines[0], HasSubstr(",time=[" + localText(-1500000000) + "," + localText(-1) + "]"));
  EXPECT_NE(localText(0), localText(-1));
}

TEST(DebugPrintTest, OnlyAtDebug) {
  test::LogCapture capture(log4cxx::Level::getInfo());
  DebugUtils::debugPrint("T", UtcTimePeriod{1000000000, 2000000000});
  EXPECT_THAT(capture.lines(), IsEmpty());
}

}  // namespace
}  // namespace orvex
