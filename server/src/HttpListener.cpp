#include "HttpListener.h"

#include <Poco/Exception.h>
#include <Poco/Net/HTTPRequestHandler.h>
#include <Poco/Net/HTTPServerRequestImpl.h>
#include <Poco/Net/HTTPServerResponseImpl.h>
#include <Poco/Net/HTTPServerSession.h>
#include <Poco/Net/NetException.h>
#include <Poco/Timestamp.h>
#include <sys/socket.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <thread>

namespace orvex {
namespace hqserver {
namespace {

constexpr size_t kMaxHead = 16 * 1024;
// The admission thread's longest sleep: it bounds how late a connection given back is watched.
constexpr auto kAdmissionTick = std::chrono::milliseconds(5);
// A request thread keeps a connection this long for the client's next request, and for at most
// this many requests in a row, before giving it back: quick successive requests skip admission.
constexpr auto kLinger = std::chrono::milliseconds(2);
constexpr int kMaxInARow = 64;

Poco::Timespan span(std::chrono::microseconds us) { return Poco::Timespan(us.count()); }

void closeQuietly(Poco::Net::StreamSocket& socket) {
  try {
    socket.close();
  } catch (const Poco::Exception&) {
    // Already broken: gone either way.
  }
}

// Makes `socket` readable only once at least `bytes` wait (or it ends): the part of a head already
// looked at then costs nothing until more of it arrives. Poco's own reads need it back at 1.
void wakeOnBytes(Poco::Net::StreamSocket& socket, int bytes) {
  socket.setOption(SOL_SOCKET, SO_RCVLOWAT, bytes);
}

// Whether the bytes waiting on `socket` hold a whole request head; `size` gets how many wait.
bool headArrived(Poco::Net::StreamSocket& socket, int& size) {
  static thread_local std::unique_ptr<char[]> buffer(new char[kMaxHead]);
  size = socket.receiveBytes(buffer.get(), static_cast<int>(kMaxHead), MSG_PEEK);
  if (size <= 0) return false;
  const char* end = buffer.get() + size;
  for (const char* p = buffer.get(); (p = static_cast<const char*>(std::memchr(p, '\n', end - p)));
       ++p) {
    if (p + 1 < end && p[1] == '\n') return true;
    if (p + 2 < end && p[1] == '\r' && p[2] == '\n') return true;
  }
  return false;
}

}  // namespace

bool HttpListener::nextHeadArrives(Poco::Net::StreamSocket& socket) const {
  const auto deadline = Clock::now() + kLinger;
  int seen = 0;
  bool arrived = false;
  while (!arrived && socket.poll(span(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::max(deadline - Clock::now(), Clock::duration::zero()))),
                                 Poco::Net::Socket::SELECT_READ)) {
    if (tls_) return true;
    int size = 0;
    arrived = headArrived(socket, size);
    if (arrived || size <= seen) break;  // whole, or the client closed
    seen = size;
    wakeOnBytes(socket, size + 1);
  }
  if (seen > 0) wakeOnBytes(socket, 1);
  return arrived;
}

HttpListener::HttpListener(Poco::Net::ServerSocket socket, bool tls,
                           Poco::Net::HTTPRequestHandlerFactory::Ptr factory, Limits limits)
    : listener_(std::move(socket)),
      tls_(tls),
      factory_(std::move(factory)),
      params_(new Poco::Net::HTTPServerParams),
      limits_(limits) {
  params_->setKeepAlive(true);
  params_->setMaxKeepAliveRequests(0);
  params_->setTimeout(span(limits_.ioTimeout));
}

HttpListener::~HttpListener() { stop(); }

void HttpListener::start() {
  admission_ = std::thread([this] { admit(); });
  for (int i = 0; i < limits_.threads; ++i) workers_.emplace_back([this] { work(); });
}

void HttpListener::stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (stopping_) return;
    stopping_ = true;
    // Ends reads and writes in progress; pending delays end through HqServer::pause. The bare
    // descriptor is shut down: a TLS shutdown would write on a session another thread is using.
    for (const Link& link : serving_) ::shutdown(link->socket.impl()->sockfd(), SHUT_RDWR);
  }
  ready_.notify_all();
  if (admission_.joinable()) admission_.join();
  for (std::thread& worker : workers_) worker.join();
  workers_.clear();
  for (Link& link : queue_) closeQuietly(link->socket);
  for (Link& link : returned_) closeQuietly(link->socket);
  queue_.clear();
  returned_.clear();
  listener_.close();
}

void HttpListener::admit() {
  std::vector<Waiting> waiting;
  for (;;) {
    Clock::time_point now = Clock::now();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (stopping_) break;
      cutLateHeads(now);
      for (Link& link : returned_) waiting.push_back(Waiting{link, now, Clock::time_point(), 0});
      returned_.clear();
    }
    Poco::Net::Socket::SocketList readable{listener_}, none, errors;
    for (const Waiting& w : waiting) readable.push_back(w.link->socket);
    try {
      Poco::Net::Socket::select(readable, none, errors, span(kAdmissionTick));
    } catch (const Poco::Exception&) {
      readable.clear();  // a socket closed under us; look again
    }
    now = Clock::now();
    for (const Poco::Net::Socket& socket : readable) {
      if (socket != listener_) continue;
      try {
        Link link = std::make_shared<Connection>(listener_.acceptConnection());
        // Header and body go out in separate writes: without this, Nagle's algorithm and the
        // client's delayed ACK hold every answer back by tens of milliseconds.
        link->socket.setNoDelay(true);
        waiting.push_back(Waiting{link, now, Clock::time_point(), 0});
      } catch (const Poco::Exception&) {
        // The client left before it was accepted.
      }
    }
    waiting.erase(std::remove_if(waiting.begin(), waiting.end(),
                                 [&](Waiting& w) {
                                   bool ready = std::find(readable.begin(), readable.end(),
                                                          w.link->socket) != readable.end();
                                   if (ready && examine(w, now)) return true;
                                   if (!expired(w, now)) return false;
                                   closeQuietly(w.link->socket);
                                   return true;
                                 }),
                  waiting.end());
  }
  for (Waiting& w : waiting) closeQuietly(w.link->socket);
}

bool HttpListener::examine(Waiting& waiting, Clock::time_point now) {
  Poco::Net::StreamSocket& socket = waiting.link->socket;
  int size = 0;
  bool complete = false;
  try {
    complete = tls_ || headArrived(socket, size);
    if (!complete && size > waiting.seen) wakeOnBytes(socket, size + 1);
    if (complete && waiting.seen > 0) wakeOnBytes(socket, 1);
  } catch (const Poco::Exception&) {
    complete = false;
    size = 0;
  }
  // Readable with nothing new: the client closed. Or broken, or a head far too large.
  if (!complete && (size <= waiting.seen || static_cast<size_t>(size) >= kMaxHead)) {
    closeQuietly(socket);
    return true;
  }
  if (!complete) {
    if (waiting.firstByte == Clock::time_point()) waiting.firstByte = now;
    waiting.seen = size;
    return false;
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    queue_.push_back(waiting.link);
  }
  ready_.notify_one();
  return true;
}

void HttpListener::cutLateHeads(Clock::time_point now) {
  if (!tls_) return;
  for (const Link& link : serving_) {
    if (link->headDeadline == Clock::time_point() || now < link->headDeadline) continue;
    link->headDeadline = Clock::time_point();
    // The request thread's read fails and the connection ends (see stop() for why it is bare).
    ::shutdown(link->socket.impl()->sockfd(), SHUT_RDWR);
  }
}

void HttpListener::setHeadDeadline(Connection& connection, Clock::time_point deadline) {
  if (!tls_) return;
  std::lock_guard<std::mutex> lock(mutex_);
  connection.headDeadline = deadline;
}

bool HttpListener::expired(const Waiting& waiting, Clock::time_point now) const {
  if (waiting.firstByte != Clock::time_point()) {
    return now - waiting.firstByte > limits_.headerDeadline;
  }
  return now - waiting.since > limits_.idleTimeout;
}

void HttpListener::work() {
  for (;;) {
    Link link;
    {
      std::unique_lock<std::mutex> lock(mutex_);
      ready_.wait(lock, [this] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;
      link = queue_.front();
      queue_.pop_front();
      serving_.insert(link);
    }
    Poco::Net::StreamSocket& socket = link->socket;
    bool keep = true;
    for (int served = 0; keep && served < kMaxInARow; ++served) {
      if (served > 0) {
        try {
          if (!nextHeadArrives(socket)) break;
        } catch (const Poco::Exception&) {
          keep = false;
          break;
        }
      }
      keep = false;
      try {
        serveOne(*link);
        keep = true;
      } catch (const Poco::Exception&) {
        // The client went away or sent something unreadable: the connection ends.
      }
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      serving_.erase(link);
    }
    if (keep) {
      giveBack(std::move(link));
    } else {
      closeQuietly(socket);
    }
  }
}

// One request and its answer; throws when the connection cannot carry another request.
void HttpListener::serveOne(Connection& connection) {
  if (!connection.session) {
    connection.session = std::make_unique<Poco::Net::HTTPServerSession>(connection.socket, params_);
  }
  Poco::Net::HTTPServerSession& session = *connection.session;
  Poco::Net::HTTPServerResponseImpl response(session);
  std::unique_ptr<Poco::Net::HTTPServerRequestImpl> read;
  setHeadDeadline(connection, Clock::now() + limits_.headerDeadline);
  try {
    read = std::make_unique<Poco::Net::HTTPServerRequestImpl>(response, session, params_.get());
  } catch (const Poco::Net::MessageException&) {
    setHeadDeadline(connection, Clock::time_point());
    response.setStatusAndReason(Poco::Net::HTTPResponse::HTTP_BAD_REQUEST);
    response.setKeepAlive(false);
    response.send();
    throw;
  }
  setHeadDeadline(connection, Clock::time_point());
  Poco::Net::HTTPServerRequestImpl& request = *read;
  response.setDate(Poco::Timestamp());
  response.setVersion(request.getVersion());
  response.setKeepAlive(request.getKeepAlive());
  std::unique_ptr<Poco::Net::HTTPRequestHandler> handler(factory_->createRequestHandler(request));
  handler->handleRequest(request, response);
  if (!response.getKeepAlive() || !response.sent()) {
    throw Poco::Net::ConnectionAbortedException("connection not kept alive");
  }
}

void HttpListener::giveBack(Link link) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (stopping_) {
    closeQuietly(link->socket);
    return;
  }
  returned_.push_back(std::move(link));
}

}  // namespace hqserver
}  // namespace orvex
