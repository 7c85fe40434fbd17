#include "hqserver/CsvLoader.h"

#include <Poco/Exception.h>
#include <Poco/InflatingStream.h>
#include <Poco/MemoryStream.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// Hands each line, without a trailing "\r", to `parse`, which returns what is wrong with it
// (empty when nothing is); stops at the first wrong line with "<name>:<line>: <what>".
template <typename Parse>
bool eachLine(std::istream& in, const std::string& name, std::string& error, Parse parse) {
  std::string line;
  for (size_t lineNo = 1; std::getline(in, line); ++lineNo) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    const std::string what = parse(line, lineNo);
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

bool isHeader(std::string_view line) { return line.rfind("target,key,", 0) == 0; }

constexpr std::string_view kDownloadHeader = "time,value,data";

// Unquotes an RFC 4180 field; false when the quotes do not close at its end.
bool unquote(std::string_view field, std::string& out) {
  out.clear();
  if (field.empty() || field.front() != '"') {
    out.assign(field);
    return true;
  }
  for (size_t i = 1; i < field.size(); ++i) {
    if (field[i] != '"') {
      out += field[i];
    } else if (i + 1 < field.size() && field[i + 1] == '"') {
      out += '"';
      ++i;
    } else {
      return i + 1 == field.size();
    }
  }
  return false;
}

// One line of a download file: time,value,data with the data quoted as RFC 4180 when needed.
std::string parseDownloadLine(std::string_view line, const std::string& target,
                              const std::string& key, DataStore& store) {
  std::string_view time, value, rest = line;
  if (!nextField(rest, time) || !nextField(rest, value)) {
    return "expected 3 columns: time,value,data";
  }
  int64_t timeNs = 0;
  double number = 0;
  std::string data;
  if (!parseInt64(time, timeNs)) return "time is not a 64-bit integer: '" + std::string(time) + "'";
  if (!parseDouble(value, number)) return "value is not a number: '" + std::string(value) + "'";
  if (!unquote(rest, data)) return "unbalanced quotes in data";
  store.add(target, key, timeNs, timeNs, number, std::move(data));
  return {};
}

bool isDataFile(const std::filesystem::path& file) {
  const std::string name = file.filename().string();
  const auto endsWith = [&name](std::string_view tail) {
    return name.size() >= tail.size() &&
           name.compare(name.size() - tail.size(), tail.size(), tail) == 0;
  };
  return endsWith(".csv") || endsWith(".csv.gz");
}

// The whole file, inflated when it is gzip.
bool readAll(const std::filesystem::path& file, std::string& text, std::string& error) {
  std::ifstream raw(file, std::ios::binary);
  if (!raw) {
    error = file.string() + ": cannot open";
    return false;
  }
  std::ostringstream out;
  try {
    if (file.extension() == ".gz") {
      Poco::InflatingInputStream inflated(raw, Poco::InflatingStreamBuf::STREAM_GZIP);
      out << inflated.rdbuf();
    } else {
      out << raw.rdbuf();
    }
  } catch (const Poco::Exception& e) {
    error = file.string() + ": " + e.displayText();
    return false;
  }
  text = out.str();
  return true;
}

bool loadFile(const std::filesystem::path& file, DataStore& store, std::string& error) {
  std::string text;
  if (!readAll(file, text, error)) return false;
  Poco::MemoryInputStream in(text.data(), text.size());  // reads the text without a copy
  // A file of a download directory: DIR/KEY/TARGET/YYYY-MM-DD.csv[.gz], three columns.
  const std::string firstLine = text.substr(0, text.find_first_of("\r\n"));
  if (firstLine == kDownloadHeader) {
    const std::string target = file.parent_path().filename().string();
    const std::string key = file.parent_path().parent_path().filename().string();
    return CsvLoader::loadDownload(in, file.string(), key, target, store, error);
  }
  return CsvLoader::load(in, file.string(), store, error);
}

}  // namespace

bool CsvLoader::load(std::istream& in, const std::string& name, DataStore& store,
                     std::string& error) {
  return eachLine(in, name, error, [&store](const std::string& line, size_t lineNo) {
    if (line.empty() || line[0] == '#' || (lineNo == 1 && isHeader(line))) return std::string();
    return parseLine(line, store);
  });
}

bool CsvLoader::loadDownload(std::istream& in, const std::string& name, const std::string& key,
                             const std::string& target, DataStore& store, std::string& error) {
  return eachLine(in, name, error, [&](const std::string& line, size_t lineNo) {
    if (line.empty() || (lineNo == 1 && line == kDownloadHeader)) return std::string();
    return parseDownloadLine(line, target, key, store);
  });
}

std::shared_ptr<const DataStore> CsvLoader::loadPath(const std::string& path, std::string& error) {
  namespace fs = std::filesystem;
  std::error_code ec;
  std::vector<fs::path> files;
  if (fs::is_directory(path, ec)) {
    for (const auto& entry : fs::recursive_directory_iterator(path, ec)) {
      if (entry.is_regular_file() && isDataFile(entry.path())) {
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
