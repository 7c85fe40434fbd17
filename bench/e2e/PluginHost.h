// The host side of the benchmark: configures what a host provides (log level, configuration
// values, an authentication service with a fixed token), loads the plug-in with dlopen and
// creates wrappers through HistoryAPIFactory under type id 5, as a host does.
//
// One per process; not thread-safe (wrappers it makes are as thread-safe as the plug-in).
#pragma once

#include <memory>
#include <string>

#include "orvex/IHistoryApi.h"

namespace orvex {
namespace bench {

class PluginHost {
 public:
  // Loads the plug-in at `pluginPath`; throws std::runtime_error when it cannot be loaded or
  // registers nothing under type id 5.
  explicit PluginHost(const std::string& pluginPath);
  ~PluginHost();

  // A new wrapper with `pools` worker pools (none: init is not called, deliveries are dropped),
  // connected to `url`. With `signing` the access key
  // and secret are configured, so every request is signed. Throws std::runtime_error when init
  // or connect fails.
  std::unique_ptr<IHistoryApi> open(const std::string& url, bool signing, int pools) const;

  PluginHost(const PluginHost&) = delete;
  PluginHost& operator=(const PluginHost&) = delete;

 private:
  void* handle_ = nullptr;
};

}  // namespace bench
}  // namespace orvex
