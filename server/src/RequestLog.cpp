#include "hqserver/RequestLog.h"

#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeFormatter.h>
#include <Poco/String.h>
#include <Poco/Timestamp.h>

#include <chrono>
#include <cstdio>

namespace orvex {
namespace hqserver {

namespace {

void appendJsonString(std::string& out, const std::string& text) {
  out += '"';
  for (unsigned char c : text) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += static_cast<char>(c);
    } else if (c < 0x20 || c >= 0x7f) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += static_cast<char>(c);
    }
  }
  out += '"';
}

bool isSecretHeader(const std::string& name) {
  return Poco::icompare(name, "kvauth") == 0 || Poco::icompare(name, "Authorization") == 0;
}

}  // namespace

std::unique_ptr<RequestLog> RequestLog::open(const std::string& path, std::string& error) {
  std::ofstream out(path, std::ios::app | std::ios::binary);
  if (!out) {
    error = path + ": cannot open the request log for writing";
    return nullptr;
  }
  return std::unique_ptr<RequestLog>(new RequestLog(std::move(out)));
}

RequestLog::RequestLog(std::ofstream out) : out_(std::move(out)) {}

void RequestLog::write(const std::string& method, const std::string& uri,
                       const Poco::Net::NameValueCollection& headers, int status, size_t bytes,
                       const std::string& fault) {
  using namespace std::chrono;
  const int64_t now = duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
  std::string line = format(now, method, uri, headers, status, bytes, fault);
  line += '\n';
  std::lock_guard<std::mutex> lock(mutex_);
  out_ << line;
  out_.flush();
}

std::string RequestLog::format(int64_t timeMs, const std::string& method, const std::string& uri,
                               const Poco::Net::NameValueCollection& headers, int status,
                               size_t bytes, const std::string& fault) {
  std::string line = "{\"time\":";
  appendJsonString(line, Poco::DateTimeFormatter::format(Poco::Timestamp(timeMs * 1000),
                                                         "%Y-%m-%dT%H:%M:%S.%iZ"));
  line += ",\"method\":";
  appendJsonString(line, method);
  line += ",\"uri\":";
  appendJsonString(line, uri);
  line += ",\"headers\":{";
  bool first = true;
  for (const auto& [name, value] : headers) {
    if (!first) line += ',';
    first = false;
    appendJsonString(line, name);
    line += ':';
    appendJsonString(line, isSecretHeader(name) && !value.empty() ? "***" : value);
  }
  line += "},\"status\":" + std::to_string(status) + ",\"bytes\":" + std::to_string(bytes);
  if (!fault.empty()) {
    line += ",\"fault\":";
    appendJsonString(line, fault);
  }
  line += '}';
  return line;
}

}  // namespace hqserver
}  // namespace orvex
