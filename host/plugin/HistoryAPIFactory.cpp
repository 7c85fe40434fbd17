// The host plugin library's factory: a map from type id to creator under one mutex.
#include "orvex/HistoryAPIFactory.h"

#include <utility>

HistoryAPIFactory& HistoryAPIFactory::Instance() {
  // A function-local static is ready whenever a plug-in registers during its own static
  // initialisation, whatever the library load order.
  static HistoryAPIFactory factory;
  return factory;
}

int HistoryAPIFactory::RegisterObject(int typeId, Creator creator) {
  if (!creator) return -1;
  std::lock_guard<std::mutex> lock(mutex_);
  creators_[typeId] = std::move(creator);
  return 0;
}

orvex::IHistoryApi* HistoryAPIFactory::CreateObject(int typeId) const {
  Creator creator;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = creators_.find(typeId);
    if (it == creators_.end()) return nullptr;
    creator = it->second;
  }
  // Called outside the lock: a creator may be slow or may itself use the factory.
  return creator();
}

bool HistoryAPIFactory::HasObject(int typeId) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return creators_.count(typeId) != 0;
}
