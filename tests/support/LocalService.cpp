#include "LocalService.h"

#include <rapidjson/document.h>

#include <fstream>
#include <optional>
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
  if (!server_->openRequestLog(logFile_.path(), error) || !server_->start(error))
    throw std::runtime_error("local service: " + error);
}

LocalService::~LocalService() { server_->stop(); }

void LocalService::addFault(const std::string& settings, const std::string& body) {
  std::string error;
  std::optional<hqserver::FaultRule> rule = hqserver::FaultRule::parse(settings, error);
  if (!rule) throw std::runtime_error("fault rule " + settings + ": " + error);
  if (!body.empty()) rule->body = body;
  faults().add(*rule);
}

std::vector<LoggedRequest> LocalService::requests(const std::string& path) const {
  std::vector<LoggedRequest> out;
  std::ifstream in(logFile_.path());
  for (std::string line; std::getline(in, line);) {
    rapidjson::Document d;
    if (d.Parse(line.c_str()).HasParseError()) throw std::runtime_error("request log: " + line);
    LoggedRequest r{d["method"].GetString(),
                    d["uri"].GetString(),
                    {},
                    d["status"].GetInt(),
                    d.HasMember("fault") ? d["fault"].GetString() : ""};
    for (const auto& h : d["headers"].GetObject())
      r.headers[h.name.GetString()] = h.value.GetString();
    if (path.empty() || r.path() == path) out.push_back(std::move(r));
  }
  return out;
}

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
