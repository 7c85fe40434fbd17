// Properties of the record text readers (TopicUtils) on arbitrary text.
#include <algorithm>
#include <string>
#include <vector>

#include "FuzzChecks.h"
#include "orvex/TopicUtils.h"

namespace orvex {
namespace fuzz {

namespace {

const int64_t kUntouchedTime = 0x5A5A5A5A5A5A5A5ALL;

bool sameBody(const TopicBody& a, const TopicBody& b) {
  return a.time == b.time && a.value == b.value && a.data == b.data;
}

bool sameBodies(const std::vector<TopicBody>& a, const std::vector<TopicBody>& b) {
  return std::equal(a.begin(), a.end(), b.begin(), b.end(), sameBody);
}

bool sameTopics(const std::vector<CloudTopic>& a, const std::vector<CloudTopic>& b) {
  return std::equal(
      a.begin(), a.end(), b.begin(), b.end(), [](const CloudTopic& x, const CloudTopic& y) {
        return x.target == y.target && x.key == y.key && sameBodies(x.bodies, y.bodies);
      });
}

// What the caller already held; a reader must neither change nor merge into it.
TopicBody sentinelBody() { return TopicBody{-7, 1.5, "held"}; }
CloudTopic sentinelTopic() { return CloudTopic{"T", "kx", {sentinelBody()}}; }

size_t lineCount(const std::string& text) {
  if (text.empty()) return 0;
  const size_t breaks = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  return text.back() == '\n' ? breaks : breaks + 1;
}

// A "\r" inside data is written back as a blank, so such records cannot round-trip.
bool hasCarriageReturn(const std::vector<TopicBody>& bodies) {
  return std::any_of(bodies.begin(), bodies.end(),
                     [](const TopicBody& b) { return b.data.find('\r') != std::string::npos; });
}

std::string checkBodies(const std::string& text) {
  std::vector<TopicBody> out{sentinelBody()};
  const bool ok = TopicUtils::basicRec2TopicBodys(text, out);
  if (out.empty() || !sameBody(out.front(), sentinelBody())) return "bodies: held record changed";
  if (!ok) return out.size() == 1 ? "" : "bodies: failed read left records behind";
  std::vector<TopicBody> read(out.begin() + 1, out.end());
  if (read.size() != lineCount(text)) return "bodies: record count differs from line count";
  if (hasCarriageReturn(read)) return "";
  std::vector<TopicBody> again;
  if (!TopicUtils::basicRec2TopicBodys(TopicUtils::bodies2Text(read), again)) {
    return "bodies: written text not readable";
  }
  return sameBodies(read, again) ? "" : "bodies: round trip changed the records";
}

// The shape of what a topic reader appended.
std::string checkTopicShape(const std::vector<CloudTopic>& read) {
  for (size_t i = 0; i < read.size(); ++i) {
    const CloudTopic& topic = read[i];
    if (topic.key != "kx") return "topics: wrong key";
    if (topic.target.empty() || topic.bodies.empty()) return "topics: empty target or topic";
    if (topic.target.find(',') != std::string::npos) return "topics: comma in a target";
    if (i > 0 && read[i - 1].target == topic.target) return "topics: one target split in two";
  }
  return "";
}

std::string checkTopics(const std::string& text) {
  std::vector<CloudTopic> out{sentinelTopic()};
  const bool ok = TopicUtils::basicRec2Topics(text, "kx", out);

  std::vector<CloudTopic> out2{sentinelTopic()};
  int64_t maxTime = kUntouchedTime;
  const bool ok2 = TopicUtils::tgtTopicRaw2Topics("kx", text, out2, maxTime);
  if (ok != ok2 || !sameTopics(out, out2)) return "topics: the two topic readers disagree";

  if (out.empty() || !sameTopics({out.front()}, {sentinelTopic()})) {
    return "topics: held topic changed";
  }
  if (!ok) {
    if (out.size() != 1) return "topics: failed read left topics behind";
    return maxTime == kUntouchedTime ? "" : "topics: failed read changed maxTime";
  }
  std::vector<CloudTopic> read(out.begin() + 1, out.end());
  std::string broken = checkTopicShape(read);
  if (!broken.empty()) return broken;

  int64_t newest = kUntouchedTime;
  size_t bodies = 0;
  bool carriageReturn = false;
  for (const CloudTopic& topic : read) {
    for (const TopicBody& body : topic.bodies) {
      newest = bodies++ == 0 ? body.time : std::max(newest, body.time);
    }
    carriageReturn = carriageReturn || hasCarriageReturn(topic.bodies);
  }
  if (bodies != lineCount(text)) return "topics: record count differs from line count";
  if (maxTime != newest) return "topics: maxTime is not the newest record time";
  if (carriageReturn) return "";
  std::vector<CloudTopic> again;
  if (!TopicUtils::basicRec2Topics(TopicUtils::topics2Text(read), "kx", again)) {
    return "topics: written text not readable";
  }
  return sameTopics(read, again) ? "" : "topics: round trip changed the records";
}

}  // namespace

std::string checkRecordText(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string broken = checkBodies(text);
  return broken.empty() ? checkTopics(text) : broken;
}

}  // namespace fuzz
}  // namespace orvex
