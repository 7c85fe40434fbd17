// The local history quote service: an HTTP (or HTTPS) server in front of a QueryService, with
// access checks, pacing, fault injection and a request log. Connections are scheduled by an
// HttpListener, so that idle and slow clients cannot starve the others.
//
// Lifecycle: create() (loads the data and opens the log), start(), then stop() or destruction.
// Every public operation is thread-safe; the fault and pacing controls may be changed while
// requests are being served.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "hqserver/DataStore.h"
#include "hqserver/FaultInjector.h"
#include "hqserver/QueryService.h"
#include "hqserver/RequestAuthenticator.h"
#include "hqserver/RequestLog.h"
#include "hqserver/ServerOptions.h"

namespace Poco {
namespace Net {
class ServerSocket;
}  // namespace Net
}  // namespace Poco

namespace orvex {
namespace hqserver {

class HttpListener;

class HqServer {
 public:
  // Builds a server from `options`: the data from options.dataPath (the embedded data set when
  // empty), the request log, the faults. Returns nullptr and sets `error` on failure.
  static std::unique_ptr<HqServer> create(const ServerOptions& options, std::string& error);
  // A server on the given data; `store` must be sealed. The request log is not opened.
  HqServer(const ServerOptions& options, std::shared_ptr<const DataStore> store);
  ~HqServer();
  HqServer(const HqServer&) = delete;
  HqServer& operator=(const HqServer&) = delete;

  // Appends one line per request to `path` from now on; call before start(). Returns false with
  // `error` set when the file cannot be opened (no log is kept then).
  bool openRequestLog(const std::string& path, std::string& error);
  // Binds and starts listening. Returns false with `error` set when the address cannot be bound.
  bool start(std::string& error);
  // Stops accepting, aborts open connections and waits for the request threads. Idempotent.
  void stop();

  // The bound port and "http://<bind>:<port>" ("https://" with a certificate); valid after start().
  uint16_t port() const { return port_; }
  std::string url() const;

  std::shared_ptr<const DataStore> store() const { return query_.store(); }
  void setStore(std::shared_ptr<const DataStore> store) { query_.setStore(std::move(store)); }
  FaultInjector& faults() { return faults_; }
  // The "kv_reqwait_msec" value sent with every answer; negative: the header is not sent.
  void setWaitMsec(int msec) { waitMsec_ = msec; }
  int waitMsec() const { return waitMsec_; }
  // Requests received for `path` (endpoints, unknown paths and control requests alike).
  uint64_t requestCount(const std::string& path) const;
  uint64_t totalRequests() const;
  const ServerOptions& options() const { return options_; }

 private:
  friend class RequestHandler;

  // The listening socket, TLS when a certificate is configured; throws Poco exceptions.
  Poco::Net::ServerSocket listen() const;
  void countRequest(const std::string& path);
  // Sleeps `ms` milliseconds or until stop(); false when interrupted by stop().
  bool pause(int ms);

  const ServerOptions options_;
  QueryService query_;
  FaultInjector faults_;
  RequestAuthenticator auth_;
  std::unique_ptr<RequestLog> log_;
  std::atomic<int> waitMsec_;
  uint16_t port_ = 0;

  mutable std::mutex countMutex_;
  std::map<std::string, uint64_t> counts_;
  uint64_t total_ = 0;

  std::mutex stopMutex_;
  std::condition_variable stopSignal_;
  bool stopping_ = false;

  std::unique_ptr<HttpListener> listener_;
};

}  // namespace hqserver
}  // namespace orvex
