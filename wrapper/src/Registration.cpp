// Registers the plug-in's creator with the host factory while the library loads. Nothing is
// unregistered at unload: the host owns the factory and the objects it created.
#include <functional>

#include "marketdata/HistoryWrapper.h"
#include "orvex/HistoryAPIFactory.h"

namespace {

orvex::IHistoryApi* createHistoryApi() { return new marketdata::HistoryWrapper(); }

constexpr int kHistoryTypeId = 5;

const bool registered = [] {
  HistoryAPIFactory::Instance().RegisterObject(
      kHistoryTypeId, std::function<orvex::IHistoryApi*()>(&createHistoryApi));
  return true;
}();

}  // namespace
