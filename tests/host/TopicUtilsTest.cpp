// Record texts: reading, writing, round trips and refusal of malformed text.
#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

#include "orvex/TopicUtils.h"

namespace orvex {
namespace {

TEST(TopicUtilsTest, BodiesRoundTripThroughShortestText) {
  const std::vector<TopicBody> bodies = {
      {std::numeric_limits<int64_t>::min(), -std::numeric_limits<double>::max(), "a,b,,c"},
      {-1, -0.0, ""},
      {0, 0.1, " padded "},
      {1700000000123456789, 1.0 / 3.0, "{\"k\":[1,2]}"},
      {std::numeric_limits<int64_t>::max(), std::numeric_limits<double>::denorm_min(), ","},
  };
  std::string text = TopicUtils::bodies2Text(bodies);
  std::vector<TopicBody> back;
  ASSERT_TRUE(TopicUtils::basicRec2TopicBodys(text, back)) << text;
  ASSERT_EQ(bodies.size(), back.size());
  for (size_t i = 0; i < bodies.size(); ++i) {
    EXPECT_EQ(bodies[i].time, back[i].time) << i;
    // Bit-exact: the writer promises a form that reads back to the same double, -0.0 included.
    EXPECT_EQ(0, std::memcmp(&bodies[i].value, &back[i].value, sizeof(double))) << i;
    EXPECT_EQ(bodies[i].data, back[i].data) << i;
  }

  EXPECT_EQ("-5,0.1,x\n1,100,a b \n",
            TopicUtils::bodies2Text({{-5, 0.1, "x"}, {1, 100, "a\nb\r"}}));
  back.clear();
  ASSERT_TRUE(TopicUtils::basicRec2TopicBodys("1,1,a\r\n2,2,b\r\n3,3,c", back));
  EXPECT_EQ("1,1,a\n2,2,b\n3,3,c\n", TopicUtils::bodies2Text(back));
  // Nanoseconds to milliseconds rounds down, also below zero.
  EXPECT_EQ(-1, TopicUtils::nsec2msec(-1));
  EXPECT_EQ(-2, TopicUtils::nsec2msec(-1000001));
}

// What a reader does with what the caller held, the newest time and round trips hold for any
// text: the record-text fuzzer checks them on its corpus.
TEST(TopicUtilsTest, TopicsWriteOneLinePerRecordAndReadBackWithoutMerging) {
  const std::vector<CloudTopic> topics = {{"A", "k", {{1, 1.5, "x"}, {2, 2.5, "y,z"}}},
                                          {"B", "k", {{-3, 0, ""}}},
                                          {"A", "k", {{4, 4, "again"}}}};
  const std::string text = TopicUtils::topics2Text(topics);
  EXPECT_EQ("A,1,1.5,x\nA,2,2.5,y,z\nB,-3,0,\nA,4,4,again\n", text);
  std::vector<CloudTopic> back = {{"A", "k", {{9, 9, "held"}}}};  // not merged into either
  ASSERT_TRUE(TopicUtils::basicRec2Topics(text, "k", back));
  EXPECT_EQ(4u, back.size());
}

TEST(TopicUtilsTest, MalformedTextIsRefused) {
  for (const char* text : {"1,2", "1", ",1,x", "1,,x", "1.5,2,x", "+1,2,x", " 1,2,x",
                           "9223372036854775808,2,x", "1,2x,x", "1,nan,x", "1,inf,x", "1,1e400,x",
                           "1,0x10,x", "1,1,a\n\n2,2,b\n", "\n", "1,1,a\n2,2\n"}) {
    std::vector<TopicBody> out;
    EXPECT_FALSE(TopicUtils::basicRec2TopicBodys(text, out)) << text;
  }
  for (const char* text : {"A,1,1", ",1,1,x", "A,1,1,x\nA,x,1,y", "A,1,1,x\nB,1,1,y\n\n"}) {
    std::vector<CloudTopic> out;
    int64_t maxTime = 5;
    EXPECT_FALSE(TopicUtils::tgtTopicRaw2Topics("k", text, out, maxTime)) << text;
    EXPECT_FALSE(TopicUtils::basicRec2Topics(text, "k", out)) << text;
  }
}

}  // namespace
}  // namespace orvex
