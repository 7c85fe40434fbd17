// Record texts <-> records. This is the hot path of every query answer: one pass over the text,
// std::from_chars for numbers, one assignment per data string, no other allocation per field.
#include "orvex/TopicUtils.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <string_view>

namespace orvex {
namespace {

// Splits a text into lines: "\n" ends a line, one "\r" before it is dropped, and a final "\n"
// does not begin another line.
class LineReader {
 public:
  explicit LineReader(const std::string& text)
      : pos_(text.data()), end_(text.data() + text.size()) {}

  bool next(std::string_view& line) {
    if (pos_ == end_) return false;
    const char* nl = static_cast<const char*>(std::memchr(pos_, '\n', end_ - pos_));
    const char* lineEnd = nl ? nl : end_;
    const char* contentEnd = lineEnd;
    if (contentEnd != pos_ && contentEnd[-1] == '\r') --contentEnd;
    line = std::string_view(pos_, contentEnd - pos_);
    pos_ = nl ? nl + 1 : end_;
    return true;
  }

 private:
  const char* pos_;
  const char* end_;
};

size_t countLines(const std::string& text) {
  if (text.empty()) return 0;
  size_t n = static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
  return text.back() == '\n' ? n : n + 1;
}

// Cuts the field before the next ',' off `rest`; false when there is no ','.
bool takeField(std::string_view& rest, std::string_view& field) {
  size_t comma = rest.find(',');
  if (comma == std::string_view::npos) return false;
  field = rest.substr(0, comma);
  rest.remove_prefix(comma + 1);
  return true;
}

bool parseTime(std::string_view text, int64_t& out) {
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, out);
  return !text.empty() && result.ec == std::errc() && result.ptr == end;
}

bool parseValue(std::string_view text, double& out) {
  const char* end = text.data() + text.size();
  auto result = std::from_chars(text.data(), end, out, std::chars_format::general);
  return !text.empty() && result.ec == std::errc() && result.ptr == end && std::isfinite(out);
}

// "time,value,data" -> body; `body` is untouched on failure except for its numbers.
bool parseBody(std::string_view rest, TopicBody& body) {
  std::string_view timeText;
  std::string_view valueText;
  if (!takeField(rest, timeText) || !takeField(rest, valueText)) return false;
  if (!parseTime(timeText, body.time) || !parseValue(valueText, body.value)) return false;
  body.data.assign(rest.data(), rest.size());
  return true;
}

// One topic line appended to the CloudTopics from `first` on: to the last one when it has the
// same target, else to a new one of `key`. `time` receives the record's time.
bool appendTopicRecord(std::string_view line, const std::string& key, size_t first,
                       std::vector<CloudTopic>& out, int64_t& time) {
  std::string_view target;
  if (!takeField(line, target) || target.empty()) return false;
  if (out.size() == first || out.back().target != target) {
    out.emplace_back();
    out.back().target.assign(target.data(), target.size());
    out.back().key = key;
  }
  std::vector<TopicBody>& bodies = out.back().bodies;
  bodies.emplace_back();
  if (!parseBody(line, bodies.back())) return false;
  time = bodies.back().time;
  return true;
}

// Topic lines appended to `out`; on failure `out` is cut back to its size on entry and
// `maxTime` is untouched.
bool readTopics(const std::string& text, const std::string& key, std::vector<CloudTopic>& out,
                int64_t* maxTime) {
  const size_t oldSize = out.size();
  bool any = false;
  int64_t newest = 0;
  LineReader reader(text);
  std::string_view line;
  while (reader.next(line)) {
    int64_t time = 0;
    if (!appendTopicRecord(line, key, oldSize, out, time)) {
      out.erase(out.begin() + static_cast<std::ptrdiff_t>(oldSize), out.end());
      return false;
    }
    newest = any ? std::max(newest, time) : time;
    any = true;
  }
  if (maxTime != nullptr && any) *maxTime = newest;
  return true;
}

void appendNumber(std::string& out, int64_t value) {
  char buf[24];
  auto result = std::to_chars(buf, buf + sizeof(buf), value);
  out.append(buf, result.ptr);
}

void appendNumber(std::string& out, double value) {
  char buf[32];
  auto result = std::to_chars(buf, buf + sizeof(buf), value);
  out.append(buf, result.ptr);
}

// A line break inside data cannot be represented; it is written as a blank.
void appendData(std::string& out, const std::string& data) {
  size_t start = out.size();
  out += data;
  std::replace_if(
      out.begin() + static_cast<std::ptrdiff_t>(start), out.end(),
      [](char c) { return c == '\n' || c == '\r'; }, ' ');
}

// A rough size of one written line, to reserve once per text.
size_t lineEstimate(const TopicBody& body) { return 48 + body.data.size(); }

}  // namespace

bool TopicUtils::basicRec2Topics(const std::string& text, const std::string& key,
                                 std::vector<CloudTopic>& out) {
  return readTopics(text, key, out, nullptr);
}

bool TopicUtils::basicRec2TopicBodys(const std::string& text, std::vector<TopicBody>& out) {
  const size_t oldSize = out.size();
  out.reserve(oldSize + countLines(text));
  LineReader reader(text);
  std::string_view line;
  while (reader.next(line)) {
    out.emplace_back();
    if (!parseBody(line, out.back())) {
      out.erase(out.begin() + static_cast<std::ptrdiff_t>(oldSize), out.end());
      return false;
    }
  }
  return true;
}

bool TopicUtils::tgtTopicRaw2Topics(const std::string& type, const std::string& text,
                                    std::vector<CloudTopic>& out, int64_t& maxTime) {
  return readTopics(text, type, out, &maxTime);
}

int64_t TopicUtils::nsec2msec(int64_t nsec) {
  int64_t ms = nsec / 1000000;
  return (nsec % 1000000 < 0) ? ms - 1 : ms;
}

void TopicUtils::appendBodyLine(std::string& out, const TopicBody& body) {
  appendNumber(out, body.time);
  out.push_back(',');
  appendNumber(out, body.value);
  out.push_back(',');
  appendData(out, body.data);
  out.push_back('\n');
}

void TopicUtils::appendTopicLine(std::string& out, const std::string& target,
                                 const TopicBody& body) {
  out += target;
  out.push_back(',');
  appendBodyLine(out, body);
}

std::string TopicUtils::bodies2Text(const std::vector<TopicBody>& bodies) {
  size_t size = 0;
  for (const TopicBody& body : bodies) size += lineEstimate(body);
  std::string out;
  out.reserve(size);
  for (const TopicBody& body : bodies) appendBodyLine(out, body);
  return out;
}

std::string TopicUtils::topics2Text(const std::vector<CloudTopic>& topics) {
  size_t size = 0;
  for (const CloudTopic& topic : topics) {
    for (const TopicBody& body : topic.bodies) size += topic.target.size() + lineEstimate(body);
  }
  std::string out;
  out.reserve(size);
  for (const CloudTopic& topic : topics) {
    for (const TopicBody& body : topic.bodies) appendTopicLine(out, topic.target, body);
  }
  return out;
}

}  // namespace orvex
