// Log line layout, level handling, message pieces and the debug print.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "LogCapture.h"
#include "orvex/DebugUtils.h"
#include "orvex/Log.h"
#include "orvex/Timestamp.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace {

using ::testing::ElementsAre;

log4cxx::LoggerPtr logger() { return log4cxx::Logger::getLogger(kLoggerName); }

// A message piece that counts its conversions to text.
struct Counted {
  int* conversions;
};
std::ostream& operator<<(std::ostream& os, const Counted& counted) {
  ++*counted.conversions;
  return os << "counted";
}

// The time prefix is off unless a test turns it on.
TEST(LogLineTest, TagAndNameFollowTheOptionalTime) {
  test::LogCapture capture;
  ORVEX_LOG_TRACE(logger(), "t");
  ORVEX_LOG_DEBUG(logger(), "d");
  ORVEX_LOG_INFO(logger(), "i");
  ORVEX_LOG_WARN(logger(), "w");
  ORVEX_LOG_ERROR(logger(), "e");
  std::string seen;
  for (const auto& entry : capture.entries()) seen += entry.level + ":" + entry.text + "|";
  EXPECT_EQ(seen,
            "TRACE:[TRACE] DaZaviVor t|DEBUG:[DEBUG] DaZaviVor d|INFO:[INFO ] DaZaviVor i|"
            "WARN:[WARN ] DaZaviVor w|ERROR:[ERROR] DaZaviVor e|");

  setTimeEnabled(true);
  ORVEX_LOG_INFO(logger(), "hello " << 7);
  const std::string line = capture.lines().back(), rest = " [INFO ] DaZaviVor hello 7";
  EXPECT_THAT(line, ::testing::EndsWith(rest));
  // A date-time text of the runtime's layout comes first, whatever the clock says.
  EXPECT_EQ(Timestamp(0, KvTimeZoneLocal).toDateTimeString().size(), line.size() - rest.size());
  setTimeEnabled(false);
}

TEST(LogLineTest, DisabledLevelConvertsNothing) {
  test::LogCapture capture(log4cxx::Level::getWarn());
  int conversions = 0;
  Counted counted{&conversions};
  ORVEX_LOG_TRACE(logger(), "x" << counted);
  ORVEX_LOG_DEBUG(logger(), counted << 1 << counted);
  ORVEX_LOG_INFO(logger(), 2 << counted);
  DebugUtils::debugPrint("T", UtcTimePeriod{1000000000, 2000000000});
  EXPECT_EQ(0, conversions);
  EXPECT_TRUE(capture.lines().empty());
  ORVEX_LOG_WARN(logger(), "x" << counted);
  ORVEX_LOG_ERROR(logger(), 3 << counted);
  EXPECT_EQ(2, conversions);
}

TEST(LogLineTest, MessagePiecesOfEveryKind) {
  test::LogCapture capture;
  int conversions = 0;
  const ResultStatus status(INVALID_PARAM, "x");
  const TopicReq req{"k", {}, 0, 0, 0, 0};
  const PageResponse page{3, true, 0, 0};
  const char* none = nullptr;
  ORVEX_LOG_DEBUG(logger(), "a" << int32_t{-32} << ',' << INT64_MIN << ',' << UINT32_MAX << ','
                                << size_t{12} << ',' << -9LL);
  ORVEX_LOG_DEBUG(logger(), std::string("str") << "ptr" << true << false << 'c' << std::string()
                                               << none << int8_t{-8} << TIMEOUT);
  // A piece only std::ostream can write switches the buffer; later pieces, records among them,
  // must follow it.
  ORVEX_LOG_DEBUG(logger(), 0.5 << status << '|' << req << '|' << page << 5 << true);
  // std::hex reaches the stream, but integers are written in decimal regardless.
  ORVEX_LOG_DEBUG(logger(), "a" << Counted{&conversions} << "b" << reinterpret_cast<void*>(0x1f)
                                << std::hex << 255);
  const std::string h = "[DEBUG] DaZaviVor ";
  const std::string records =
      "INVALID_PARAM@x|key=k,targetSize=0,beginTime=0,endTime=0,maxCount=0,flags=|"
      "page=3,isLast=1,relationMtm=0,nameMaxMtm=0";
  EXPECT_THAT(capture.lines(), ElementsAre(h + "a-32,-9223372036854775808,4294967295,12,-9",
                                           h + "strptr10c(null)-8-23", h + "0.5" + records + "51",
                                           h + "acountedb0x1f255"));
  EXPECT_EQ(1, conversions);
}

std::string localText(int64_t nsec) {
  return Timestamp(TopicUtils::nsec2msec(nsec), KvTimeZoneLocal).toLocalString(' ');
}

TEST(DebugPrintTest, LocalTextsThenRawValues) {
  test::LogCapture capture;
  DebugUtils::debugPrint("T", UtcTimePeriod{0, 0});
  DebugUtils::debugPrint("T", UtcTimePeriod{-1500000000, -1});
  const std::string epoch = localText(0);
  EXPECT_THAT(capture.lines(),
              ElementsAre("[DEBUG] DaZaviVor T,time=[" + epoch + "," + epoch + "]=[0,0]",
                          "[DEBUG] DaZaviVor T,time=[" + localText(-1500000000) + "," +
                              localText(-1) + "]=[-1500000000,-1]"));
}

}  // namespace
}  // namespace orvex
