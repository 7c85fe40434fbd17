#include "hqserver/HqServer.h"

#include <Poco/Exception.h>
#include <Poco/Net/Context.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/SecureServerSocket.h>
#include <openssl/ssl.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>

#include <chrono>
#include <csignal>

#include "HttpListener.h"
#include "RequestHandler.h"
#include "hqserver/CsvLoader.h"
#include "hqserver/DemoData.h"

namespace orvex {
namespace hqserver {

std::unique_ptr<HqServer> HqServer::create(const ServerOptions& options, std::string& error) {
  std::shared_ptr<const DataStore> store =
      options.dataPath.empty() ? DemoData::build() : CsvLoader::loadPath(options.dataPath, error);
  if (!store) return nullptr;
  auto server = std::make_unique<HqServer>(options, std::move(store));
  if (!options.requestLog.empty() && !server->openRequestLog(options.requestLog, error))
    return nullptr;
  return server;
}

bool HqServer::openRequestLog(const std::string& path, std::string& error) {
  log_ = RequestLog::open(path, error);
  return log_ != nullptr;
}

HqServer::HqServer(const ServerOptions& options, std::shared_ptr<const DataStore> store)
    : options_(options),
      query_(std::move(store), options.pageSize, options.name),
      auth_(AuthConfig{options.token, options.key, options.secret}),
      waitMsec_(options.waitMsec) {
  for (const auto& rule : options.faults) faults_.add(rule);
}

HqServer::~HqServer() { stop(); }

bool HqServer::start(std::string& error) {
  if (listener_) return true;
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopping_ = false;
  }
  // A client that goes away in the middle of an answer must not end the process.
  std::signal(SIGPIPE, SIG_IGN);
  try {
    Poco::Net::ServerSocket socket = listen();
    port_ = socket.address().port();
    HttpListener::Limits limits;
    limits.threads = options_.threads;
    listener_ = std::make_unique<HttpListener>(socket, !options_.tlsCert.empty(),
                                               new RequestHandlerFactory(*this), limits);
    listener_->start();
  } catch (const Poco::Exception& e) {
    error = "cannot listen on " + options_.bind + ":" + std::to_string(options_.port) + ": " +
            e.displayText();
    listener_.reset();
    return false;
  }
  return true;
}

void HqServer::stop() {
  {
    std::lock_guard<std::mutex> lock(stopMutex_);
    stopping_ = true;
  }
  stopSignal_.notify_all();
  if (listener_) {
    listener_->stop();
    listener_.reset();
  }
}

Poco::Net::ServerSocket HqServer::listen() const {
  Poco::Net::SocketAddress address(options_.bind, options_.port);
  if (options_.tlsCert.empty()) return Poco::Net::ServerSocket(address, 64);
  Poco::Net::Context::Ptr context =
      new Poco::Net::Context(Poco::Net::Context::TLS_SERVER_USE, options_.tlsKey, options_.tlsCert,
                             "", Poco::Net::Context::VERIFY_NONE);
  // AES-128 first: as safe for this use and cheaper per record than OpenSSL's AES-256 default.
  SSL_CTX_set_ciphersuites(context->sslContext(),
                           "TLS_AES_128_GCM_SHA256:TLS_AES_256_GCM_SHA384:"
                           "TLS_CHACHA20_POLY1305_SHA256");
  return Poco::Net::SecureServerSocket(address, 64, context);
}

std::string HqServer::url() const {
  return (options_.tlsCert.empty() ? "http://" : "https://") + options_.bind + ":" +
         std::to_string(port_);
}

uint64_t HqServer::requestCount(const std::string& path) const {
  std::lock_guard<std::mutex> lock(countMutex_);
  auto it = counts_.find(path);
  return it == counts_.end() ? 0 : it->second;
}

uint64_t HqServer::totalRequests() const {
  std::lock_guard<std::mutex> lock(countMutex_);
  return total_;
}

void HqServer::countRequest(const std::string& path) {
  std::lock_guard<std::mutex> lock(countMutex_);
  ++total_;
  // Arbitrary paths from clients must not grow the table without bound.
  if (counts_.size() < 1024 || counts_.count(path)) ++counts_[path];
}

bool HqServer::pause(int ms) {
  std::unique_lock<std::mutex> lock(stopMutex_);
  return !stopSignal_.wait_for(lock, std::chrono::milliseconds(ms), [this] { return stopping_; });
}

}  // namespace hqserver
}  // namespace orvex
