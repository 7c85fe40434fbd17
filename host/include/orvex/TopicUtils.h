// Conversions between the history service's record texts and records.
//
// Line format (see docs/record-format.md): records are separated by "\n" (a trailing "\r" is
// accepted); an empty text holds no record.
//   body lines:   time,value,data
//   topic lines:  target,time,value,data
// `time` is a signed 64-bit decimal, `value` a decimal floating-point number, `data` the rest of
// the line as it stands (it may hold commas). Consecutive topic lines of one target form one
// CloudTopic. A malformed line makes a reader return false and leaves the out list exactly as it
// was. Readers append to their out list. Stateless and thread-safe.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "orvex/Export.h"
#include "orvex/Records.h"

namespace orvex {

class ORVEX_RUNTIME_API TopicUtils {
 public:
  // Topic lines -> CloudTopics with key `key`, appended to `out`.
  static bool basicRec2Topics(const std::string& text, const std::string& key,
                              std::vector<CloudTopic>& out);
  // Body lines -> TopicBodys, appended to `out`.
  static bool basicRec2TopicBodys(const std::string& text, std::vector<TopicBody>& out);
  // Topic lines -> CloudTopics with key `type`, appended to `out`; `maxTime` receives the largest
  // record time read (unchanged when there is no record).
  static bool tgtTopicRaw2Topics(const std::string& type, const std::string& text,
                                 std::vector<CloudTopic>& out, int64_t& maxTime);

  // Nanoseconds to milliseconds, rounding toward negative infinity.
  static int64_t nsec2msec(int64_t nsec);

  // Writers, the inverse of the readers. `value` is written in its shortest exact form.
  static void appendBodyLine(std::string& out, const TopicBody& body);
  static void appendTopicLine(std::string& out, const std::string& target, const TopicBody& body);
  static std::string bodies2Text(const std::vector<TopicBody>& bodies);
  static std::string topics2Text(const std::vector<CloudTopic>& topics);
};

}  // namespace orvex
