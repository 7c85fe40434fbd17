#include "Report.h"

#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <sys/utsname.h>

#include <cmath>
#include <cstdio>
#include <ctime>
#include <fstream>
#include <map>
#include <sstream>
#include <thread>

#ifndef ORVEX_BENCH_BUILD_TYPE
#define ORVEX_BENCH_BUILD_TYPE "unknown"
#endif

namespace orvex {
namespace bench {

namespace {

const char* const kMicroSection = "6 micro";
constexpr double kRecordParseGoal = 5e6;
// Two timings of a few nanoseconds each differ by noise; within this share they count as equal.
constexpr double kEqualCostSlack = 1.10;

std::string firstLineWith(const char* path, const std::string& prefix) {
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(prefix, 0) == 0) {
      size_t colon = line.find(':');
      return colon == std::string::npos ? line
                                        : line.substr(line.find_first_not_of(" \t", colon + 1));
    }
  }
  return "";
}

std::string readFirstLine(const char* path) {
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);
  return line;
}

std::string nowText() {
  std::time_t now = std::time(nullptr);
  char text[32];
  std::strftime(text, sizeof(text), "%Y-%m-%d %H:%M:%S UTC", std::gmtime(&now));
  return text;
}

// Digits grouped by thousands for large values, three significant decimals for small ones.
std::string formatValue(double value) {
  char text[64];
  if (std::fabs(value) >= 1000) {
    std::snprintf(text, sizeof(text), "%.0f", value);
    std::string digits(text);
    size_t start = digits[0] == '-' ? 1 : 0;
    for (size_t i = digits.size(); i > start + 3; i -= 3) digits.insert(i - 3, ",");
    return digits;
  }
  if (std::fabs(value) >= 100) {
    std::snprintf(text, sizeof(text), "%.1f", value);
  } else if (std::fabs(value) >= 1) {
    std::snprintf(text, sizeof(text), "%.2f", value);
  } else {
    std::snprintf(text, sizeof(text), "%.3f", value);
  }
  return text;
}

std::string pad(const std::string& text, size_t width) {
  return text.size() >= width ? text : text + std::string(width - text.size(), ' ');
}

std::string padLeft(const std::string& text, size_t width) {
  return text.size() >= width ? text : std::string(width - text.size(), ' ') + text;
}

double toNanoseconds(double value, const std::string& unit) {
  if (unit == "us") return value * 1e3;
  if (unit == "ms") return value * 1e6;
  if (unit == "s") return value * 1e9;
  return value;
}

}  // namespace

Report::Report() {
  utsname uts{};
  uname(&uts);
  facts_.push_back({"cores", std::to_string(std::thread::hardware_concurrency())});
  facts_.push_back({"cpu", firstLineWith("/proc/cpuinfo", "model name")});
  facts_.push_back({"memory", firstLineWith("/proc/meminfo", "MemTotal")});
  facts_.push_back({"kernel", std::string(uts.sysname) + " " + uts.release});
  facts_.push_back({"load average at start", readFirstLine("/proc/loadavg")});
  facts_.push_back({"build type", ORVEX_BENCH_BUILD_TYPE});
  facts_.push_back({"compiler", "g++ " __VERSION__});
  facts_.push_back({"date", nowText()});
}

void Report::add(Row row) { rows_.push_back(std::move(row)); }

void Report::add(const std::string& section, const std::string& figure, double value,
                 const std::string& unit, const std::string& goal, bool met) {
  rows_.push_back(Row{section, figure, value, unit, goal, met ? 1 : 0, false});
}

void Report::add(const std::string& section, const std::string& figure, double value,
                 const std::string& unit) {
  rows_.push_back(Row{section, figure, value, unit, "", -1, false});
}

void Report::check(const std::string& section, const std::string& figure, double value,
                   const std::string& unit, const std::string& goal, bool ok) {
  rows_.push_back(Row{section, figure, value, unit, goal, ok ? 1 : 0, true});
}

void Report::note(const std::string& text) { notes_.push_back(text); }

bool Report::addMicro(const std::string& path, std::string& error) {
  std::ifstream in(path);
  if (!in) {
    error = "cannot read " + path;
    return false;
  }
  std::stringstream text;
  text << in.rdbuf();
  rapidjson::Document doc;
  doc.Parse(text.str().c_str());
  if (doc.HasParseError() || !doc.IsObject() || !doc.HasMember("benchmarks") ||
      !doc["benchmarks"].IsArray()) {
    error = path + " is not Google Benchmark JSON output";
    return false;
  }
  std::map<std::string, double> nsByName;
  for (const auto& b : doc["benchmarks"].GetArray()) {
    if (!b.IsObject() || !b.HasMember("name") || !b.HasMember("real_time")) continue;
    if (b.HasMember("run_type") && std::string(b["run_type"].GetString()) != "iteration") continue;
    const std::string name = b["name"].GetString();
    const std::string unit = b.HasMember("time_unit") ? b["time_unit"].GetString() : "ns";
    // CPU time is steadier under other load; benchmarks that hand work to other threads ask
    // for wall time and say so in their name.
    const bool wall = name.find("/real_time") != std::string::npos || !b.HasMember("cpu_time");
    const double ns = toNanoseconds(b[wall ? "real_time" : "cpu_time"].GetDouble(), unit);
    nsByName[name.substr(0, name.find('/'))] = ns;  // the pairing below ignores arguments
    add(kMicroSection, name, ns, "ns/op");
    if (b.HasMember("items_per_second")) {
      const double items = b["items_per_second"].GetDouble();
      if (name.rfind("BM_ReadBodyLines", 0) == 0) {
        add(kMicroSection, name + " records", items, "records/s", ">= 5,000,000",
            items >= kRecordParseGoal);
      } else {
        add(kMicroSection, name + " items", items, "items/s");
      }
    }
    if (b.HasMember("bytes_per_second")) {
      add(kMicroSection, name + " text", b["bytes_per_second"].GetDouble() / 1e6, "MB/s");
    }
  }
  auto disabled = nsByName.find("BM_LogStatementDisabled");
  auto test = nsByName.find("BM_LogLevelTest");
  if (disabled != nsByName.end() && test != nsByName.end() && test->second > 0) {
    const double ratio = disabled->second / test->second;
    add(kMicroSection, "disabled log statement / level test", ratio, "x", "<= 1 (10% noise)",
        ratio <= kEqualCostSlack);
  }
  return true;
}

std::string Report::table() const {
  std::ostringstream out;
  out << "orvex history plug-in: benchmarks\n";
  for (const Fact& fact : facts_) out << "  " << pad(fact.name + ":", 24) << fact.value << "\n";
  if (!command_.empty()) out << "  " << pad("command:", 24) << command_ << "\n";
  out << "\n";
  out << pad("section", 14) << pad("figure", 56) << padLeft("value", 16) << "  " << pad("unit", 11)
      << pad("goal", 20) << "met\n";
  out << std::string(122, '-') << "\n";
  for (const Row& row : rows_) {
    const char* met = row.met < 0 ? "" : (row.met ? "yes" : "NO");
    out << pad(row.section, 14) << pad(row.figure, 56) << padLeft(formatValue(row.value), 16)
        << "  " << pad(row.unit, 11) << pad(row.goal, 20) << met << "\n";
  }
  if (!notes_.empty()) {
    out << "\n";
    for (const std::string& note : notes_) out << "note: " << note << "\n";
  }
  return out.str();
}

std::string Report::json() const {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
  w.StartObject();
  w.Key("machine");
  w.StartObject();
  for (const Fact& fact : facts_) {
    w.Key(fact.name.c_str());
    w.String(fact.value.c_str());
  }
  w.EndObject();
  w.Key("command");
  w.String(command_.c_str());
  w.Key("rows");
  w.StartArray();
  for (const Row& row : rows_) {
    w.StartObject();
    w.Key("section");
    w.String(row.section.c_str());
    w.Key("figure");
    w.String(row.figure.c_str());
    w.Key("value");
    w.Double(std::isfinite(row.value) ? row.value : 0.0);
    w.Key("unit");
    w.String(row.unit.c_str());
    w.Key("goal");
    w.String(row.goal.c_str());
    w.Key("met");
    if (row.met < 0) {
      w.Null();
    } else {
      w.Bool(row.met == 1);
    }
    w.Key("kind");
    w.String(row.check ? "check" : (row.met < 0 ? "figure" : "goal"));
    w.EndObject();
  }
  w.EndArray();
  w.Key("notes");
  w.StartArray();
  for (const std::string& note : notes_) w.String(note.c_str());
  w.EndArray();
  w.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize()) + "\n";
}

bool Report::anyGoalMissed() const {
  for (const Row& row : rows_) {
    if (row.met == 0 && !row.check) return true;
  }
  return false;
}

bool Report::anyCheckFailed() const {
  for (const Row& row : rows_) {
    if (row.met == 0 && row.check) return true;
  }
  return false;
}

}  // namespace bench
}  // namespace orvex
