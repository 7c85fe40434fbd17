// Signs one request to the history quote service: "Date", "Content-MD5" and "Authorization".
//
// Made per request from copies of the access key and secret, used by one thread, then dropped.
// Without a key or a secret nothing is signed and the caller's headers go out unchanged.
#pragma once

#include <Poco/URI.h>

#include <string>

#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

class RequestSigner {
 public:
  RequestSigner(std::string key, std::string secret);

  // Computes the signature headers of `method` `uri` with `body` and the caller's `headers`,
  // replacing those of an earlier sign. Always OK.
  ResultStatus sign(const Poco::URI& uri, const std::string& method, const std::string& body,
                    const HeaderMap& headers);

  // A copy of `headers` with the signature headers added; the caller's own values win.
  HeaderMap signedHeaders(const HeaderMap& headers) const;

  // The value under exactly `name`, or "".
  static std::string headerValue(const HeaderMap& headers, const std::string& name);
  // "name:value\n" for every header whose name contains "x-fc-", lower-cased names, sorted.
  static std::string canonicalHeaders(const HeaderMap& headers);
  // Path (or "/"), "\n", then the sorted "name=value" items of the query joined by "\n".
  static std::string canonicalResource(const Poco::URI& uri);

 private:
  HeaderMap headers;
  std::string key;
  std::string secret;
};

}  // namespace orvex
