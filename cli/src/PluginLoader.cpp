#include "PluginLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>

#include "HistoryAPIFactory.h"

#ifndef ORVEX_DEFAULT_PLUGIN
#define ORVEX_DEFAULT_PLUGIN "liborvex_history.so"
#endif
#ifndef ORVEX_INSTALLED_PLUGIN
#define ORVEX_INSTALLED_PLUGIN "../lib/liborvex_history.so"
#endif

namespace orvex {
namespace cli {
namespace {

bool exists(const std::string& path) { return ::access(path.c_str(), R_OK) == 0; }

std::string executableDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

}  // namespace

std::string PluginLoader::load(const std::string& path) {
  // RTLD_LOCAL: the plug-in reaches the host only through the libraries it links.
  if (::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL | RTLD_NODELETE) != nullptr) return "";
  const char* why = ::dlerror();
  return "cannot load plug-in " + path + ": " + (why ? why : "unknown error");
}

std::unique_ptr<IHistoryApi> PluginLoader::create(int typeId) {
  return std::unique_ptr<IHistoryApi>(HistoryAPIFactory::Instance().CreateObject(typeId));
}

std::string PluginLoader::defaultPath() {
  const std::string built = ORVEX_DEFAULT_PLUGIN;
  if (exists(built)) return built;
  const std::string installed = executableDir() + "/" + ORVEX_INSTALLED_PLUGIN;
  return exists(installed) ? installed : built;
}

}  // namespace cli
}  // namespace orvex
