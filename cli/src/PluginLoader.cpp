#include "PluginLoader.h"

#include <dlfcn.h>
#include <unistd.h>

#include <climits>
#include <cstdlib>

#include "orvex/HistoryAPIFactory.h"

// The build defines ORVEX_BUILD_DIR (this program's directory in the build tree),
// ORVEX_DEFAULT_PLUGIN (the plug-in built with it) and ORVEX_INSTALLED_PLUGIN (the installed
// plug-in, relative to the installed program's directory).

namespace orvex {
namespace cli {
namespace {

std::string executableDir() {
  char buf[PATH_MAX];
  const ssize_t n = ::readlink("/proc/self/exe", buf, sizeof buf - 1);
  if (n <= 0) return "";
  std::string path(buf, static_cast<size_t>(n));
  return path.substr(0, path.rfind('/'));
}

// `path` with symbolic links resolved; `path` itself when it does not exist.
std::string canonical(const std::string& path) {
  char buf[PATH_MAX];
  return ::realpath(path.c_str(), buf) != nullptr ? std::string(buf) : path;
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
  // Decided by where the program runs, never by what exists: an installed program must not pick
  // up a build tree left on the machine, nor a program in the build tree an installed copy.
  const std::string dir = executableDir();
  if (!dir.empty() && dir == canonical(ORVEX_BUILD_DIR)) return ORVEX_DEFAULT_PLUGIN;
  return dir + "/" + ORVEX_INSTALLED_PLUGIN;
}

}  // namespace cli
}  // namespace orvex
