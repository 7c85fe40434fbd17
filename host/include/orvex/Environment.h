// The host's configuration object: key=value settings from a file and from the host at run time.
//
// Keys read by the system (all optional; a missing key reads as its default):
//   fc_key, fc_secret          access key and secret of the request signature
//   kvmacaddress               MAC address sent in the "mac" header
//   user, user_name, user_group, user_extra   the four texts of getUserInfo()
//   product, product_number    product name and number ("product_id" header: product_number)
//   version                    client version ("kvversion" header)
// ConfigAuthService (IServiceRouter.h) reads further keys. All operations are thread-safe.
#pragma once

#include <map>
#include <shared_mutex>
#include <string>

#include "orvex/Export.h"
#include "orvex/ResultStatus.h"

namespace vantor {

struct UserInfo {
  std::string user;
  std::string name;
  std::string group;
  std::string extra;
};

class ORVEX_RUNTIME_API Environment {
 public:
  // The process-wide configuration.
  static Environment& instance();

  virtual ~Environment();

  virtual std::string getValue(const std::string& key, const std::string& defaultValue) const;
  virtual UserInfo getUserInfo() const;
  virtual std::string getVersion() const;
  virtual std::string getProductName() const;
  virtual int getProductNumber() const;  // 0 when missing or not a number

  // Reads "key=value" lines (blank lines and lines starting with '#' skipped; key and value
  // trimmed). Values already set are replaced. Fails with INVALID_PARAM naming the file and line
  // for a line without '=', or NOT_EXIST when the file cannot be read; nothing is changed then.
  orvex::ResultStatus loadFile(const std::string& path);
  void setValue(const std::string& key, const std::string& value);
  void clear();

  Environment(const Environment&) = delete;
  Environment& operator=(const Environment&) = delete;

 protected:
  Environment() = default;

 private:
  mutable std::shared_mutex mutex_;
  std::map<std::string, std::string> values_;
};

}  // namespace vantor
