#include "LocalService.h"

#include <sstream>
#include <stdexcept>

#include "hqserver/CsvLoader.h"
#include "hqserver/DemoData.h"

namespace orvex {
namespace test {

LocalService::LocalService(hqserver::ServerOptions options,
                           std::shared_ptr<const hqserver::DataStore> store)
    : store_(store ? std::move(store) : embeddedData()) {
  server_ = std::make_unique<hqserver::HqServer>(options, store_);
  std::string error;
  if (!server_->start(error)) throw std::runtime_error("local service: " + error);
}

LocalService::~LocalService() { server_->stop(); }

std::shared_ptr<const hqserver::DataStore> LocalService::embeddedData() {
  static const std::shared_ptr<const hqserver::DataStore> data = hqserver::DemoData::build();
  return data;
}

std::shared_ptr<const hqserver::DataStore> LocalService::fromCsv(const std::string& csv) {
  auto store = std::make_shared<hqserver::DataStore>();
  std::istringstream in(csv);
  std::string error;
  if (!hqserver::CsvLoader::load(in, "csv", *store, error)) throw std::runtime_error(error);
  store->seal();
  return store;
}

}  // namespace test
}  // namespace orvex
