#include "orvex/RequestSigner.h"

#include <algorithm>
#include <utility>
#include <vector>

#include "orvex/StringHelper.h"
#include "orvex/TimeUtils.h"
#include "orvex/Timestamp.h"

namespace orvex {

namespace {

const char* const kDate = "Date";
const char* const kContentMd5 = "Content-MD5";
const char* const kAuthorization = "Authorization";
const char* const kContentType = "Content-Type";
const char* const kCanonicalMark = "x-fc-";

}  // namespace

RequestSigner::RequestSigner(std::string key, std::string secret)
    : key(std::move(key)), secret(std::move(secret)) {}

ResultStatus RequestSigner::sign(const Poco::URI& uri, const std::string& method,
                                 const std::string& body, const HeaderMap& headers) {
  this->headers.clear();
  if (key.empty() || secret.empty()) {
    return ResultStatus();
  }
  this->headers[kDate] = TimeUtils::rfc1123DateTime(Timestamp::now(0).toUtcMsEponch());
  this->headers[kContentMd5] = StringHelper::md5(body);

  std::string stringToSign;
  stringToSign.reserve(256);
  stringToSign.append(method).append("\n");
  stringToSign.append(headerValue(this->headers, kContentMd5)).append("\n");
  stringToSign.append(headerValue(headers, kContentType)).append("\n");
  stringToSign.append(headerValue(this->headers, kDate)).append("\n");
  stringToSign.append(canonicalHeaders(headers));
  stringToSign.append(canonicalResource(uri));

  this->headers[kAuthorization] = "FC " + key + ":" + StringHelper::sha256(stringToSign, secret);
  return ResultStatus();
}

HeaderMap RequestSigner::signedHeaders(const HeaderMap& headers) const {
  HeaderMap merged(headers);
  // insert() keeps a value the caller already set under the same name.
  merged.insert(this->headers.begin(), this->headers.end());
  return merged;
}

std::string RequestSigner::headerValue(const HeaderMap& headers, const std::string& name) {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

std::string RequestSigner::canonicalHeaders(const HeaderMap& headers) {
  HeaderMap canonical;
  for (const auto& [name, value] : headers) {
    if (name.find(kCanonicalMark) != std::string::npos) {
      canonical[StringHelper::ToLowerCase(name)] = value;
    }
  }
  std::string text;
  for (const auto& [name, value] : canonical) {
    text.append(name).append(":").append(value).append("\n");
  }
  return text;
}

std::string RequestSigner::canonicalResource(const Poco::URI& uri) {
  const std::string& path = uri.getPath();
  std::vector<std::string> items;
  // Poco 1.11 decodes "+" as a space here, which is what the service expects.
  for (const auto& [name, value] : uri.getQueryParameters()) {
    std::string item(name);
    if (!value.empty()) {
      item.append("=");
      Poco::URI::encode(value, "", item);
    }
    items.push_back(std::move(item));
  }
  std::sort(items.begin(), items.end());
  return (path.empty() ? std::string("/") : path) + "\n" + StringHelper::ToCsvString(items, '\n');
}

}  // namespace orvex
