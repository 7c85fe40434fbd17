#include "PluginLoader.h"

#include <dlfcn.h>

#include "orvex/HistoryAPIFactory.h"

namespace orvex {
namespace test {

namespace {
constexpr int kHistoryTypeId = 5;
}

PluginLoader::PluginLoader(const std::string& path) {
  const std::string file = path.empty() ? std::string(ORVEX_PLUGIN_PATH) : path;
  handle_ = dlopen(file.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE);
  if (handle_ == nullptr) {
    const char* text = dlerror();
    error_ = text != nullptr ? text : "dlopen failed";
  }
}

PluginLoader::~PluginLoader() {
  if (handle_ != nullptr) dlclose(handle_);
}

std::unique_ptr<IHistoryApi> PluginLoader::create() const {
  return std::unique_ptr<IHistoryApi>(HistoryAPIFactory::Instance().CreateObject(kHistoryTypeId));
}

}  // namespace test
}  // namespace orvex
