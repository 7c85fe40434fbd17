#include "hqserver/CsvLoader.h"

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <string_view>
#include <vector>

namespace orvex {
namespace hqserver {

namespace {

bool parseInt64(std::string_view text, int64_t& out) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

bool parseDouble(std::string_view text, double& out) {
  if (text.empty()) return false;
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size() && std::isfinite(out);
}

// Splits off the text up to the next comma; false when there is none.
bool nextField(std::string_view& rest, std::string_view& field) {
  auto comma = rest.find(',');
  if (comma == std::string_view::npos) return false;
  field = rest.substr(0, comma);
  rest.remove_prefix(comma + 1);
  return true;
}

// Parses one record line; returns an empty text on success, otherwise what is wrong.
std::string parseLine(std::string_view line, DataStore& store) {
  std::string_view target, key, time, mtm, value;
  std::string_view rest = line;
  if (!nextField(rest, target) || !nextField(rest, key) || !nextField(rest, time) ||
      !nextField(rest, mtm) || !nextField(rest, value)) {
    return "expected 6 columns: target,key,time,mtm,value,data";
  }
  if (target.empty()) return "empty target";
  if (key.empty()) return "empty key";
  int64_t timeNs = 0, mtmNs = 0;
  double number = 0;
  if (!parseInt64(time, timeNs)) return "time is not a 64-bit integer: '" + std::string(time) + "'";
  if (!parseInt64(mtm, mtmNs)) return "mtm is not a 64-bit integer: '" + std::string(mtm) + "'";
  if (!parseDouble(value, number)) return "value is not a number: '" + std::string(value) + "'";
  store.add(std::string(target), std::string(key), timeNs, mtmNs, number, std::string(rest));
  return {};
}

bool isHeader(std::string_view line) { return line.rfind("target,key,", 0) == 0; }

bool loadFile(const std::filesystem::path& file, DataStore& store, std::string& error) {
  std::ifstream in(file, std::ios::binary);
  if (!in) {
    error = file.string() + ": cannot open";
    return false;
  }
  return CsvLoader::load(in, file.string(), store, error);
}

}  // namespace

bool CsvLoader::load(std::istream& in, const std::string& name, DataStore& store,
                     std::string& error) {
  std::string line;
  for (size_t lineNo = 1; std::getline(in, line); ++lineNo) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.empty() || line[0] == '#' || (lineNo == 1 && isHeader(line))) continue;
    std::string what = parseLine(line, store);
    if (!what.empty()) {
      error = name + ":" + std::to_string(lineNo) + ": " + what;
      return false;
    }
  }
  if (in.bad()) {
    error = name + ": read error";
    return false;
  }
  return true;
}

std::shared_ptr<const DataStore> CsvLoader::loadPath(const std::string& path, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> files;
  if (fs::is_directory(path, ec)) {
    for (const auto& entry : fs::directory_iterator(path, ec)) {
      if (entry.is_regular_file() && entry.path().extension() == ".csv") {
        files.push_back(entry.path());
      }
    }
    if (ec) {
      error = path + ": " + ec.message();
      return nullptr;
    }
    std::sort(files.begin(), files.end());
  } else if (fs::exists(path, ec)) {
    files.push_back(path);
  } else {
    error = path + ": no such file or directory";
    return nullptr;
  }
  auto store = std::make_shared<DataStore>();
  for (const auto& file : files) {
    if (!loadFile(file, *store, error)) return nullptr;
  }
  store->seal();
  return store;
}

}  // namespace hqserver
}  // namespace orvex
