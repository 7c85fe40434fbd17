#include "hqserver/RequestAuthenticator.h"

#include <Poco/DateTime.h>
#include <Poco/DateTimeFormat.h>
#include <Poco/DateTimeParser.h>

#include <algorithm>
#include <chrono>
#include <map>
#include <vector>

#include "orvex/StringHelper.h"

namespace orvex {
namespace hqserver {

namespace {

// Compares without stopping at the first difference, so the answer time tells nothing about how
// much of a signature was right.
bool sameText(const std::string& a, const std::string& b) {
  unsigned char diff = a.size() == b.size() ? 0 : 1;
  const size_t n = std::min(a.size(), b.size());
  for (size_t i = 0; i < n; ++i) diff |= static_cast<unsigned char>(a[i] ^ b[i]);
  return diff == 0;
}

std::string canonicalHeaders(const Poco::Net::NameValueCollection& headers) {
  std::map<std::string, std::string> picked;
  for (const auto& [name, value] : headers) {
    if (name.find("x-fc-") != std::string::npos) picked[StringHelper::ToLowerCase(name)] = value;
  }
  std::string text;
  for (const auto& [name, value] : picked) text += name + ":" + value + "\n";
  return text;
}

std::string canonicalResource(const Poco::URI& uri) {
  std::string path = uri.getPath();
  if (path.empty()) path = "/";
  std::vector<std::string> items;
  for (const auto& [name, value] : uri.getQueryParameters()) {
    if (value.empty()) {
      items.push_back(name);
    } else {
      std::string encoded;
      Poco::URI::encode(value, "", encoded);
      items.push_back(name + "=" + encoded);
    }
  }
  std::sort(items.begin(), items.end());
  return path + "\n" + StringHelper::ToCsvString(items, '\n');
}

}  // namespace

int64_t RequestAuthenticator::systemClock() {
  using namespace std::chrono;
  return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

RequestAuthenticator::RequestAuthenticator(AuthConfig config, Clock clock)
    : config_(std::move(config)), clock_(std::move(clock)) {}

AuthResult RequestAuthenticator::check(const std::string& method, const Poco::URI& uri,
                                       const Poco::Net::NameValueCollection& headers,
                                       const std::string& body) const {
  AuthResult result = checkToken(headers);
  if (!result.ok()) return result;
  return checkSignature(method, uri, headers, body);
}

std::string RequestAuthenticator::stringToSign(const std::string& method, const Poco::URI& uri,
                                               const Poco::Net::NameValueCollection& headers) {
  return method + "\n" + headers.get("Content-MD5", "") + "\n" + headers.get("Content-Type", "") +
         "\n" + headers.get("Date", "") + "\n" + canonicalHeaders(headers) + canonicalResource(uri);
}

AuthResult RequestAuthenticator::checkToken(const Poco::Net::NameValueCollection& headers) const {
  if (config_.token.empty()) return {};
  if (!headers.has("kvauth")) return {401, "missing access token (kvauth)"};
  if (!sameText(headers.get("kvauth"), config_.token)) return {401, "wrong access token (kvauth)"};
  return {};
}

AuthResult RequestAuthenticator::checkSignature(const std::string& method, const Poco::URI& uri,
                                                const Poco::Net::NameValueCollection& headers,
                                                const std::string& body) const {
  if (config_.key.empty() && config_.secret.empty()) return {};
  const std::string authorization = headers.get("Authorization", "");
  if (authorization.empty()) return {403, "missing signature (Authorization)"};
  AuthResult date = checkDate(headers);
  if (!date.ok()) return date;
  if (headers.has("Content-MD5") && headers.get("Content-MD5") != StringHelper::md5(body)) {
    return {403, "Content-MD5 does not match the body"};
  }
  const std::string prefix = "FC " + config_.key + ":";
  if (authorization.compare(0, prefix.size(), prefix) != 0) {
    return {403, "unknown access key in Authorization"};
  }
  const std::string expected =
      prefix + StringHelper::sha256(stringToSign(method, uri, headers), config_.secret);
  if (!sameText(authorization, expected)) return {403, "signature does not match"};
  return {};
}

AuthResult RequestAuthenticator::checkDate(const Poco::Net::NameValueCollection& headers) const {
  const std::string text = headers.get("Date", "");
  Poco::DateTime date;
  int tzd = 0;
  if (text.empty() ||
      !Poco::DateTimeParser::tryParse(Poco::DateTimeFormat::HTTP_FORMAT, text, date, tzd)) {
    return {403, "missing or unreadable Date"};
  }
  const int64_t dateMs = date.timestamp().epochMicroseconds() / 1000 - int64_t{tzd} * 1000;
  const int64_t skew = clock_() - dateMs;
  if (skew > config_.maxSkewMs || skew < -config_.maxSkewMs) {
    return {403, "Date is more than 15 minutes off the service's clock"};
  }
  return {};
}

}  // namespace hqserver
}  // namespace orvex
