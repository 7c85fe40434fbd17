// The service's connection handling: slow or idle clients cannot starve the others.
//
// One admission thread accepts connections and watches every connection that is between
// requests, with one readiness wait over all of them. A connection is handed to a request thread
// only once a whole request head has arrived (seen with MSG_PEEK, so nothing is consumed); one
// request thread serves exactly one request with Poco's HTTP classes and gives the connection
// back. So idle kept-alive connections and clients that drip their header bytes hold no request
// thread, and requests beyond the request threads wait in a queue in arrival order. A connection
// is closed when its request head is not complete within the header deadline after its first
// byte, or when it stays idle longer than the idle time-out. TLS connections are handed over as
// soon as they are readable (their bytes cannot be peeked); the admission thread shuts one down
// when its request thread has not read the whole head (handshake included) within the header
// deadline. Clients must not pipeline requests (bytes after one request are lost).
// Thread-safe: start() and stop() from one owner thread; everything else runs on its own threads.
#pragma once

#include <Poco/Net/HTTPRequestHandlerFactory.h>
#include <Poco/Net/HTTPServerParams.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/ServerSocket.h>
#include <Poco/Net/StreamSocket.h>

#include <chrono>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <thread>
#include <vector>

namespace orvex {
namespace hqserver {

class HttpListener {
 public:
  struct Limits {
    int threads = 32;                                // request threads
    std::chrono::milliseconds headerDeadline{5000};  // first byte to end of request head
    std::chrono::milliseconds idleTimeout{10000};    // between requests
    std::chrono::milliseconds ioTimeout{60000};      // one read or write of a request thread
  };

  // Serves `socket` (listening already) with handlers from `factory`, which it owns.
  HttpListener(Poco::Net::ServerSocket socket, bool tls,
               Poco::Net::HTTPRequestHandlerFactory::Ptr factory, Limits limits);
  ~HttpListener();
  HttpListener(const HttpListener&) = delete;
  HttpListener& operator=(const HttpListener&) = delete;

  // Starts the admission thread and the request threads.
  void start();
  // Stops accepting, shuts every connection down and joins all threads. Idempotent.
  void stop();

 private:
  using Clock = std::chrono::steady_clock;
  // One client connection; its HTTP session lives as long as it (closing the session closes the
  // socket).
  struct Connection {
    explicit Connection(const Poco::Net::StreamSocket& s) : socket(s) {}
    Poco::Net::StreamSocket socket;
    std::unique_ptr<Poco::Net::HTTPServerSession> session;
    Clock::time_point headDeadline;  // TLS: set while a head is read; epoch otherwise; mutex_
  };
  using Link = std::shared_ptr<Connection>;
  struct Waiting {
    Link link;
    Clock::time_point since;      // accepted or given back
    Clock::time_point firstByte;  // of the request head; epoch while none arrived
    int seen;                     // bytes of an incomplete head looked at; it wakes on more
  };

  void admit();
  // Whether a whole next request head arrives on `socket` within the linger time.
  bool nextHeadArrives(Poco::Net::StreamSocket& socket) const;
  // Looks at a readable waiting connection; true when it leaves the waiting room.
  bool examine(Waiting& waiting, Clock::time_point now);
  bool expired(const Waiting& waiting, Clock::time_point now) const;
  // Shuts down TLS connections whose request head is late.
  void cutLateHeads(Clock::time_point now);
  void setHeadDeadline(Connection& connection, Clock::time_point deadline);
  void work();
  void serveOne(Connection& connection);
  void giveBack(Link link);

  Poco::Net::ServerSocket listener_;
  const bool tls_;
  Poco::Net::HTTPRequestHandlerFactory::Ptr factory_;
  Poco::Net::HTTPServerParams::Ptr params_;
  const Limits limits_;

  std::mutex mutex_;
  std::condition_variable ready_;
  bool stopping_ = false;
  std::deque<Link> queue_;      // heads complete, waiting for a thread
  std::vector<Link> returned_;  // from request threads, back to admission
  std::set<Link> serving_;      // in the hands of request threads

  std::thread admission_;
  std::vector<std::thread> workers_;
};

}  // namespace hqserver
}  // namespace orvex
