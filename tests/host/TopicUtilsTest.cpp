// Record texts: reading, writing, round trips and refusal of malformed text.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "orvex/TopicUtils.h"

namespace orvex {
namespace {

bool sameBodies(const std::vector<TopicBody>& a, const std::vector<TopicBody>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    // Bit-exact values: the writer promises a form that reads back to the same double.
    if (a[i].time != b[i].time || std::signbit(a[i].value) != std::signbit(b[i].value) ||
        a[i].value != b[i].value || a[i].data != b[i].data) {
      return false;
    }
  }
  return true;
}

std::vector<TopicBody> awkwardBodies() {
  return {
      {std::numeric_limits<int64_t>::min(), -std::numeric_limits<double>::max(), "a,b,,c"},
      {-1, -0.0, ""},
      {0, 0.1, " padded "},
      {1700000000123456789, 1.0 / 3.0, "{\"k\":[1,2]}"},
      {std::numeric_limits<int64_t>::max(), std::numeric_limits<double>::denorm_min(), ","},
  };
}

TEST(TopicUtilsTest, BodiesRoundTripThroughText) {
  std::vector<TopicBody> bodies = awkwardBodies();
  std::string text = TopicUtils::bodies2Text(bodies);
  std::vector<TopicBody> back;
  ASSERT_TRUE(TopicUtils::basicRec2TopicBodys(text, back)) << text;
  EXPECT_TRUE(sameBodies(bodies, back)) << text;
}

TEST(TopicUtilsTest, WriterUsesShortestForm) {
  EXPECT_EQ("-5,0.1,x\n1,100,\n", TopicUtils::bodies2Text({{-5, 0.1, "x"}, {1, 100.0, ""}}));
  std::string line;
  TopicUtils::appendTopicLine(line, "600000.SH", {2, -2.5, "a,b"});
  EXPECT_EQ("600000.SH,2,-2.5,a,b\n", line);
}

TEST(TopicUtilsTest, WriterBlanksLineBreaksInData) {
  std::vector<TopicBody> back;
  ASSERT_TRUE(TopicUtils::basicRec2TopicBodys(TopicUtils::bodies2Text({{1, 1, "a\nb\r"}}), back));
  ASSERT_EQ(1u, back.size());
  EXPECT_EQ("a b ", back[0].data);
}

TEST(TopicUtilsTest, TopicsRoundTripAndGroupConsecutiveTargets) {
  std::vector<CloudTopic> topics = {{"A", "k", {{1, 1.5, "x"}, {2, 2.5, "y,z"}}},
                                    {"B", "k", {{-3, 0, ""}}},
                                    {"A", "k", {{4, 4, "again"}}}};
  std::string text = TopicUtils::topics2Text(topics);
  EXPECT_EQ("A,1,1.5,x\nA,2,2.5,y,z\nB,-3,0,\nA,4,4,again\n", text);

  std::vector<CloudTopic> back;
  ASSERT_TRUE(TopicUtils::basicRec2Topics(text, "k", back));
  ASSERT_EQ(3u, back.size());
  for (size_t i = 0; i < back.size(); ++i) {
    EXPECT_EQ(topics[i].target, back[i].target);
    EXPECT_EQ("k", back[i].key);
    EXPECT_TRUE(sameBodies(topics[i].bodies, back[i].bodies)) << i;
  }
}

TEST(TopicUtilsTest, ReadersAppendWithoutMergingIntoEarlierEntries) {
  std::vector<CloudTopic> out = {{"A", "old", {{9, 9, "kept"}}}};
  ASSERT_TRUE(TopicUtils::basicRec2Topics("A,1,1,new\n", "k", out));
  ASSERT_EQ(2u, out.size());
  EXPECT_EQ(1u, out[0].bodies.size());
  EXPECT_EQ("k", out[1].key);
  EXPECT_EQ("new", out[1].bodies.at(0).data);
}

TEST(TopicUtilsTest, TgtTopicRawReportsNewestTime) {
  std::vector<CloudTopic> out;
  int64_t maxTime = 77;
  ASSERT_TRUE(TopicUtils::tgtTopicRaw2Topics("t", "A,5,0,\nB,-2,0,\nC,9,0,\nC,3,0,", out, maxTime));
  EXPECT_EQ(9, maxTime);
  EXPECT_EQ(3u, out.size());
  EXPECT_EQ("t", out[2].key);

  maxTime = 77;
  ASSERT_TRUE(TopicUtils::tgtTopicRaw2Topics("t", "", out, maxTime));
  EXPECT_EQ(77, maxTime);
  ASSERT_TRUE(TopicUtils::tgtTopicRaw2Topics("t", "A,-8,0,\n", out, maxTime));
  EXPECT_EQ(-8, maxTime);
}

TEST(TopicUtilsTest, LineEndingsAndEmptyText) {
  std::vector<TopicBody> out;
  EXPECT_TRUE(TopicUtils::basicRec2TopicBodys("", out));
  EXPECT_TRUE(out.empty());

  ASSERT_TRUE(TopicUtils::basicRec2TopicBodys("1,1,a\r\n2,2,b\r\n3,3,c", out));
  ASSERT_EQ(3u, out.size());
  EXPECT_EQ("a", out[0].data);
  EXPECT_EQ("b", out[1].data);
  EXPECT_EQ("c", out[2].data);

  std::vector<CloudTopic> topics;
  ASSERT_TRUE(TopicUtils::basicRec2Topics("X,1,1,a\r\n", "k", topics));
  EXPECT_EQ("a", topics.at(0).bodies.at(0).data);
}

TEST(TopicUtilsTest, MalformedBodyTextLeavesOutListUnchanged) {
  const char* malformed[] = {
      "1,2",                      // no data field
      "1",                        // no value field
      ",1,x",                     // empty time
      "1,,x",                     // empty value
      "1.5,2,x",                  // time not a whole integer
      "+1,2,x",                   // sign other than '-'
      " 1,2,x",                   // blank before the time
      "9223372036854775808,2,x",  // time out of range
      "1,2x,x",                   // value with trailing garbage
      "1,nan,x",                  // not a finite number
      "1,inf,x",
      "1,1e400,x",         // out of range
      "1,0x10,x",          // hexadecimal
      "1,1,a\n\n2,2,b\n",  // empty line in the middle
      "\n",                // a text of one empty line
      "1,1,a\n2,2\n",      // good line, then a bad one
  };
  for (const char* text : malformed) {
    std::vector<TopicBody> out = {{42, 4.2, "before"}};
    EXPECT_FALSE(TopicUtils::basicRec2TopicBodys(text, out)) << text;
    ASSERT_EQ(1u, out.size()) << text;
    EXPECT_EQ("before", out[0].data);
  }
}

TEST(TopicUtilsTest, MalformedTopicTextLeavesOutListAndMaxTimeUnchanged) {
  const char* malformed[] = {
      "A,1,1",             // no data field
      ",1,1,x",            // empty target
      "A,1,1,x\nA,x,1,y",  // a bad line after good ones of the same target
      "A,1,1,x\nB,1,1,y\n\n",
  };
  for (const char* text : malformed) {
    std::vector<CloudTopic> out = {{"A", "k", {{1, 1, "before"}}}};
    int64_t maxTime = 5;
    EXPECT_FALSE(TopicUtils::tgtTopicRaw2Topics("k", text, out, maxTime)) << text;
    ASSERT_EQ(1u, out.size()) << text;
    EXPECT_EQ(1u, out[0].bodies.size()) << text;
    EXPECT_EQ(5, maxTime);
    EXPECT_FALSE(TopicUtils::basicRec2Topics(text, "k", out)) << text;
    EXPECT_EQ(1u, out.size()) << text;
  }
}

TEST(TopicUtilsTest, Nsec2msecRoundsDown) {
  EXPECT_EQ(0, TopicUtils::nsec2msec(999999));
  EXPECT_EQ(1, TopicUtils::nsec2msec(1000000));
  EXPECT_EQ(-1, TopicUtils::nsec2msec(-1));
  EXPECT_EQ(-1, TopicUtils::nsec2msec(-1000000));
  EXPECT_EQ(-2, TopicUtils::nsec2msec(-1000001));
  EXPECT_EQ(-9223372036855, TopicUtils::nsec2msec(std::numeric_limits<int64_t>::min()));
  EXPECT_EQ(9223372036854, TopicUtils::nsec2msec(std::numeric_limits<int64_t>::max()));
}

}  // namespace
}  // namespace orvex
