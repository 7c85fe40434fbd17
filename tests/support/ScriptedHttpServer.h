// A real HTTP server on 127.0.0.1 (an ephemeral port) that answers what a test scripts and records
// every request it receives.
//
// Answers are scripted per path (the request target up to "?"): each path has a queue of answers
// consumed in arrival order; when a path's queue is empty the path's default answer is used, else
// the server-wide default (200 with an empty body unless set). An answer may be delayed, or may
// close the connection without any response.
//
// Note for tests of retries: a client that reuses a kept-alive connection may transparently resend
// a request once when the server closed that connection; such a resend consumes a further
// scripted answer and appears as a further recorded request.
//
// Thread-safe: scripting, reading the record and serving may happen from any threads at once.
// Construction starts the server; destruction stops it, aborting open connections and waiting for
// delayed answers in progress.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvex/Records.h"

namespace Poco {
class ThreadPool;
namespace Net {
class HTTPServer;
class HTTPServerRequest;
class HTTPServerResponse;
}  // namespace Net
}  // namespace Poco

namespace orvex {
namespace test {

// One request as it arrived.
struct RecordedRequest {
  std::string method;
  std::string target;  // path and query exactly as received, e.g. "/QryLast?codes=a%2C&types=k"
  std::string path;    // target up to "?"
  std::string query;   // target after "?" (raw, still percent-encoded), "" without one
  HeaderMap headers;   // names exactly as received; a repeated name keeps its last value
  std::string body;
  std::chrono::steady_clock::time_point arrival;

  // The value of header `name` (exact name), or "" when absent.
  std::string header(const std::string& name) const;
  bool hasHeader(const std::string& name) const;
};

// What the server does with one request.
struct ScriptedAnswer {
  int status = 200;
  HeaderMap headers;
  std::string body;
  std::chrono::milliseconds delay{0};  // slept before answering (or before closing)
  bool closeWithoutAnswer = false;

  // 200 with `body`.
  static ScriptedAnswer ok(std::string body = "");
  // `status` with `body`.
  static ScriptedAnswer withStatus(int status, std::string body = "");
  // Closes the connection without sending any response.
  static ScriptedAnswer dropConnection();

  // Builders, for chaining: ScriptedAnswer::ok("x").header("page", "2").after(100ms).
  ScriptedAnswer& header(const std::string& name, const std::string& value);
  ScriptedAnswer& after(std::chrono::milliseconds wait);
};

class ScriptedHttpServer {
 public:
  ScriptedHttpServer();
  ~ScriptedHttpServer();

  ScriptedHttpServer(const ScriptedHttpServer&) = delete;
  ScriptedHttpServer& operator=(const ScriptedHttpServer&) = delete;

  uint16_t port() const;
  // "http://127.0.0.1:<port>".
  std::string url() const;

  // Appends `answer` to the queue of `path` (for example "/QryLast").
  void script(const std::string& path, ScriptedAnswer answer);
  // The answer for paths whose queue is empty and that have no default of their own.
  void setDefaultAnswer(ScriptedAnswer answer);
  // The answer for `path` when its queue is empty.
  void setDefaultAnswer(const std::string& path, ScriptedAnswer answer);

  // Every request received so far, in arrival order.
  std::vector<RecordedRequest> requests() const;
  // The requests whose path is exactly `path`.
  std::vector<RecordedRequest> requestsTo(const std::string& path) const;
  // Waits until at least `count` requests have been recorded; false on time-out.
  bool waitForRequests(size_t count, std::chrono::milliseconds timeout) const;
  // Forgets the recorded requests and every scripted queue; defaults stay.
  void clear();

 private:
  class Handler;
  class HandlerFactory;

  void serve(Poco::Net::HTTPServerRequest& request, Poco::Net::HTTPServerResponse& response);
  RecordedRequest record(Poco::Net::HTTPServerRequest& request);
  ScriptedAnswer nextAnswer(const std::string& path);

  mutable std::mutex mutex_;
  mutable std::condition_variable arrived_;
  std::condition_variable stopping_;  // wakes delayed answers when the server stops
  bool stopped_ = false;
  std::vector<RecordedRequest> requests_;
  std::map<std::string, std::deque<ScriptedAnswer>> queues_;
  std::map<std::string, ScriptedAnswer> pathDefaults_;
  ScriptedAnswer default_;

  std::unique_ptr<Poco::ThreadPool> threads_;
  std::unique_ptr<Poco::Net::HTTPServer> server_;
  uint16_t port_ = 0;
};

}  // namespace test
}  // namespace orvex
