// Loads the plug-in shared library as a host does, and creates wrappers through the host
// factory.
//
// The library is opened with RTLD_NOW | RTLD_LOCAL and also RTLD_NODELETE: the factory keeps the
// plug-in's creator for the life of the process (nothing is unregistered at unload), so the
// plug-in's code must stay mapped after the handle is closed. Not thread-safe; one per test.
#pragma once

#include <memory>
#include <string>

#include "orvex/IHistoryApi.h"

namespace orvex {
namespace test {

class PluginLoader {
 public:
  // dlopen of `path` (the built plug-in by default). ok() tells whether it loaded.
  explicit PluginLoader(const std::string& path = std::string());
  ~PluginLoader();  // closes the handle

  PluginLoader(const PluginLoader&) = delete;
  PluginLoader& operator=(const PluginLoader&) = delete;

  bool ok() const { return handle_ != nullptr; }
  // dlerror() text of a failed load; empty after success.
  const std::string& error() const { return error_; }

  // A new wrapper from the factory's creator of type id 5, or null when none is registered.
  // The caller owns it and deletes it through IHistoryApi's virtual destructor.
  std::unique_ptr<IHistoryApi> create() const;

 private:
  void* handle_ = nullptr;
  std::string error_;
};

}  // namespace test
}  // namespace orvex
