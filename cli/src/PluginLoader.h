// Loads the history plug-in as a host does: dlopen the library, whose static initialisation
// registers its creator with HistoryAPIFactory, then create objects through the factory.
//
// A loaded library is never unloaded: the factory keeps the plug-in's creator for the life of the
// process, so unloading would leave it pointing into freed code. Thread-safe (dlopen is).
#pragma once

#include <memory>
#include <string>

#include "orvex/IHistoryApi.h"

namespace orvex {
namespace cli {

// The history implementation's type id in HistoryAPIFactory.
constexpr int kHistoryTypeId = 5;

class PluginLoader {
 public:
  // Loads the library at `path`. Returns an empty text on success, otherwise what went wrong.
  static std::string load(const std::string& path);

  // A new object from the factory's creator of `typeId`, owned by the caller; null when nothing
  // is registered under that id.
  static std::unique_ptr<IHistoryApi> create(int typeId);

  // The plug-in path used when none is given: for the program in its build directory the library
  // built with it; anywhere else the one in the library directory beside the program's own
  // directory (../lib), whether or not it exists (loading then says what is missing).
  static std::string defaultPath();
};

}  // namespace cli
}  // namespace orvex
