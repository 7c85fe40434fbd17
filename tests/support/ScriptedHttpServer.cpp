#include "ScriptedHttpServer.h"

#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServer.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerRequest.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponse.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/SocketAddress.h>
#include <Poco/StreamCopier.h>
#include <Poco/ThreadPool.h>

#include <algorithm>
#include <sstream>
#include <utility>

namespace orvex {
namespace test {

std::string RecordedRequest::header(const std::string& name) const {
  auto it = headers.find(name);
  return it == headers.end() ? std::string() : it->second;
}

bool RecordedRequest::hasHeader(const std::string& name) const { return headers.count(name) != 0; }

ScriptedAnswer ScriptedAnswer::ok(std::string body) { return withStatus(200, std::move(body)); }

ScriptedAnswer ScriptedAnswer::withStatus(int status, std::string body) {
  ScriptedAnswer answer;
  answer.status = status;
  answer.body = std::move(body);
  return answer;
}

ScriptedAnswer ScriptedAnswer::dropConnection() {
  ScriptedAnswer answer;
  answer.closeWithoutAnswer = true;
  return answer;
}

ScriptedAnswer& ScriptedAnswer::header(const std::string& name, const std::string& value) {
  headers[name] = value;
  return *this;
}

ScriptedAnswer& ScriptedAnswer::after(std::chrono::milliseconds wait) {
  delay = wait;
  return *this;
}

class ScriptedHttpServer::Handler : public Poco::Net::HTTPRequestHandler {
 public:
  explicit Handler(ScriptedHttpServer& server) : server_(server) {}
  void handleRequest(Poco::Net::HTTPServerRequest& request,
                     Poco::Net::HTTPServerResponse& response) override {
    server_.serve(request, response);
  }

 private:
  ScriptedHttpServer& server_;
};

class ScriptedHttpServer::HandlerFactory : public Poco::Net::HTTPRequestHandlerFactory {
 public:
  explicit HandlerFactory(ScriptedHttpServer& server) : server_(server) {}
  Poco::Net::HTTPRequestHandler* createRequestHandler(
      const Poco::Net::HTTPServerRequest&) override {
    return new Handler(server_);
  }

 private:
  ScriptedHttpServer& server_;
};

ScriptedHttpServer::ScriptedHttpServer() {
  Poco::Net::ServerSocket socket(Poco::Net::SocketAddress("127.0.0.1", 0));
  port_ = socket.address().port();

  // Kept-alive client connections each hold a server thread, so leave room for many.
  const int maxThreads = 64;
  threads_ = std::make_unique<Poco::ThreadPool>(2, maxThreads);
  Poco::Net::HTTPServerParams::Ptr params = new Poco::Net::HTTPServerParams;
  params->setMaxThreads(maxThreads);
  params->setMaxQueued(256);
  params->setKeepAlive(true);
  params->setKeepAliveTimeout(Poco::Timespan(30, 0));
  server_ =
      std::make_unique<Poco::Net::HTTPServer>(new HandlerFactory(*this), *threads_, socket, params);
  server_->start();
}

ScriptedHttpServer::~ScriptedHttpServer() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
  }
  stopping_.notify_all();
  server_->stopAll(true);
  threads_->joinAll();
}

uint16_t ScriptedHttpServer::port() const { return port_; }

std::string ScriptedHttpServer::url() const { return "http://127.0.0.1:" + std::to_string(port_); }

void ScriptedHttpServer::script(const std::string& path, ScriptedAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  queues_[path].push_back(std::move(answer));
}

void ScriptedHttpServer::setDefaultAnswer(ScriptedAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  default_ = std::move(answer);
}

void ScriptedHttpServer::setDefaultAnswer(const std::string& path, ScriptedAnswer answer) {
  std::lock_guard<std::mutex> lock(mutex_);
  pathDefaults_[path] = std::move(answer);
}

std::vector<RecordedRequest> ScriptedHttpServer::requests() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return requests_;
}

std::vector<RecordedRequest> ScriptedHttpServer::requestsTo(const std::string& path) const {
  std::lock_guard<std::mutex> lock(mutex_);
  std::vector<RecordedRequest> matching;
  std::copy_if(requests_.begin(), requests_.end(), std::back_inserter(matching),
               [&](const RecordedRequest& r) { return r.path == path; });
  return matching;
}

bool ScriptedHttpServer::waitForRequests(size_t count, std::chrono::milliseconds timeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return arrived_.wait_for(lock, timeout, [&] { return requests_.size() >= count; });
}

void ScriptedHttpServer::clear() {
  std::lock_guard<std::mutex> lock(mutex_);
  requests_.clear();
  queues_.clear();
}

RecordedRequest ScriptedHttpServer::record(Poco::Net::HTTPServerRequest& request) {
  RecordedRequest recorded;
  recorded.arrival = std::chrono::steady_clock::now();
  recorded.method = request.getMethod();
  recorded.target = request.getURI();
  size_t mark = recorded.target.find('?');
  recorded.path = recorded.target.substr(0, mark);
  recorded.query = mark == std::string::npos ? std::string() : recorded.target.substr(mark + 1);
  for (const auto& [name, value] : request) {
    recorded.headers[name] = value;
  }
  std::ostringstream body;
  Poco::StreamCopier::copyStream(request.stream(), body);
  recorded.body = body.str();
  return recorded;
}

ScriptedAnswer ScriptedHttpServer::nextAnswer(const std::string& path) {
  auto queue = queues_.find(path);
  if (queue != queues_.end() && !queue->second.empty()) {
    ScriptedAnswer answer = std::move(queue->second.front());
    queue->second.pop_front();
    return answer;
  }
  auto pathDefault = pathDefaults_.find(path);
  return pathDefault != pathDefaults_.end() ? pathDefault->second : default_;
}

void ScriptedHttpServer::serve(Poco::Net::HTTPServerRequest& request,
                               Poco::Net::HTTPServerResponse& response) {
  RecordedRequest recorded = record(request);
  const std::string path = recorded.path;
  ScriptedAnswer answer;
  {
    std::unique_lock<std::mutex> lock(mutex_);
    requests_.push_back(std::move(recorded));
    answer = nextAnswer(path);
    arrived_.notify_all();
    if (answer.delay.count() > 0) {
      stopping_.wait_for(lock, answer.delay, [&] { return stopped_; });
    }
  }

  if (answer.closeWithoutAnswer) {
    response.setKeepAlive(false);
    try {
      static_cast<Poco::Net::HTTPServerRequestImpl&>(request).socket().shutdown();
    } catch (const Poco::Exception&) {
      // The client may have gone already; the connection is closed either way.
    }
    return;
  }
  response.setStatusAndReason(static_cast<Poco::Net::HTTPResponse::HTTPStatus>(answer.status));
  for (const auto& [name, value] : answer.headers) {
    response.set(name, value);
  }
  response.setContentLength(static_cast<std::streamsize>(answer.body.size()));
  response.send() << answer.body;
}

}  // namespace test
}  // namespace orvex
