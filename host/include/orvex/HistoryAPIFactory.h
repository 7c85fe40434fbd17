// The host plugin library's factory of history implementations, keyed by type id.
//
// Plug-ins register a creator at load time; the host creates objects by type id. Thread-safe.
// The caller of CreateObject owns the returned object and deletes it through its virtual
// destructor.
#pragma once

#include <functional>
#include <map>
#include <mutex>

#include "orvex/Export.h"
#include "orvex/IHistoryApi.h"

class ORVEX_HOSTPLUGIN_API HistoryAPIFactory {
 public:
  using Creator = std::function<orvex::IHistoryApi*()>;

  // The process-wide factory.
  static HistoryAPIFactory& Instance();

  // Registers `creator` under `typeId`, replacing an earlier one. Returns 0 on success, -1 when
  // the creator is empty (nothing is registered then).
  int RegisterObject(int typeId, Creator creator);

  // A new object from the creator of `typeId`, or null when none is registered.
  orvex::IHistoryApi* CreateObject(int typeId) const;

  bool HasObject(int typeId) const;

  HistoryAPIFactory(const HistoryAPIFactory&) = delete;
  HistoryAPIFactory& operator=(const HistoryAPIFactory&) = delete;

 private:
  HistoryAPIFactory() = default;

  mutable std::mutex mutex_;
  std::map<int, Creator> creators_;
};
