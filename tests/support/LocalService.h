// The local history quote service, started in-process on an ephemeral port for one test.
//
// RAII: the constructor starts the service (throwing std::runtime_error when it cannot), the
// destructor stops it. By default it serves the embedded data set, built once per process and
// shared; a test may hand in its own store, for example one made from CSV text with fromCsv().
// The data store, fault controls, request counters and request log are exposed so tests can
// compute expected answers, script failures and check what a client sent. Thread-safe as HqServer
// is.
#pragma once

#include <Poco/TemporaryFile.h>

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "hqserver/DataStore.h"
#include "hqserver/FaultInjector.h"
#include "hqserver/HqServer.h"
#include "hqserver/ServerOptions.h"

namespace orvex {
namespace test {

// One line of the service's request log. Token and signature values read "***".
struct LoggedRequest {
  std::string method;
  std::string uri;  // path and query as received
  std::map<std::string, std::string> headers;
  int status = 0;     // 0: closed without an answer
  std::string fault;  // the fault injected, "" when none

  std::string path() const { return uri.substr(0, uri.find('?')); }
  bool has(const std::string& header) const { return headers.count(header) != 0; }
};

class LocalService {
 public:
  // `options` are used as given (defaults: 127.0.0.1, port 0) except `dataPath` and
  // `requestLog`, which only HqServer::create() reads; a null `store` serves embeddedData().
  explicit LocalService(hqserver::ServerOptions options = {},
                        std::shared_ptr<const hqserver::DataStore> store = nullptr);
  ~LocalService();
  LocalService(const LocalService&) = delete;
  LocalService& operator=(const LocalService&) = delete;

  // "http://127.0.0.1:<port>", the address a client connects to.
  std::string url() const { return server_->url(); }
  uint16_t port() const { return server_->port(); }
  // The data the service was started with.
  const hqserver::DataStore& store() const { return *store_; }
  std::shared_ptr<const hqserver::DataStore> storePtr() const { return store_; }
  hqserver::FaultInjector& faults() { return server_->faults(); }
  // Adds the fault rule written as on the command line, answering `body` when one is given;
  // throws std::runtime_error when `settings` are malformed.
  void addFault(const std::string& settings, const std::string& body = "");
  // "kv_reqwait_msec" sent with every answer; negative turns it off.
  void setWaitMsec(int msec) { server_->setWaitMsec(msec); }
  uint64_t requestCount(const std::string& path) const { return server_->requestCount(path); }
  hqserver::HqServer& server() { return *server_; }
  // Every request answered so far, in order, optionally only those to `path`.
  std::vector<LoggedRequest> requests(const std::string& path = "") const;

  // The embedded data set, built on first use and shared by every test of the process.
  static std::shared_ptr<const hqserver::DataStore> embeddedData();
  // A sealed store from CSV text (columns target,key,time,mtm,value,data); throws
  // std::runtime_error naming the line when the text is malformed.
  static std::shared_ptr<const hqserver::DataStore> fromCsv(const std::string& csv);

 private:
  Poco::TemporaryFile logFile_;
  std::shared_ptr<const hqserver::DataStore> store_;
  std::unique_ptr<hqserver::HqServer> server_;
};

}  // namespace test
}  // namespace orvex
