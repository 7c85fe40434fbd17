// HttpSessionPool: idle KvHttp sessions per service address, behind one mutex.
//
// Sessions are made outside the lock (a factory may be slow); only the bookkeeping is locked.
#include "orvex/HttpSessionPool.h"

#include <algorithm>
#include <utility>

namespace orvex {
namespace {

std::shared_ptr<KvHttp> makeDefaultSession(const SessionOptions& options) {
  return std::make_shared<KvHttp>(options);
}

const std::string* hostOf(const SessionOptions& options) {
  auto it = options.find("Host");
  return it == options.end() ? nullptr : boost::any_cast<std::string>(&it->second);
}

}  // namespace

HttpSessionPool::HttpSessionPool() : factory_(makeDefaultSession) {}

HttpSessionPool::~HttpSessionPool() = default;

ResultStatus HttpSessionPool::addSession(const SessionOptions& options, uint32_t count) {
  const std::string* host = hostOf(options);
  if (host == nullptr) {
    return ResultStatus(INVALID_PARAM, "session option \"Host\" is missing or not a string");
  }
  std::vector<std::shared_ptr<KvHttp>> made;
  made.reserve(count);
  for (uint32_t i = 0; i < count; ++i) {
    std::shared_ptr<KvHttp> session = make(options);
    if (!session) break;
    made.push_back(std::move(session));
  }

  std::lock_guard<std::mutex> lock(mutex_);
  Entry& entry = entries_[*host];
  entry.options = options;
  stats_.created += made.size();
  entry.idle.insert(entry.idle.end(), std::make_move_iterator(made.begin()),
                    std::make_move_iterator(made.end()));
  if (made.size() < count) {
    return ResultStatus(UNKNOWN, "made " + std::to_string(made.size()) + " of " +
                                     std::to_string(count) + " sessions for " + *host);
  }
  return ResultStatus();
}

std::shared_ptr<KvHttp> HttpSessionPool::pop(const std::string& key) {
  SessionOptions options;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = entries_.find(key);
    if (it == entries_.end()) {
      ++stats_.misses;
      return nullptr;
    }
    std::vector<std::shared_ptr<KvHttp>>& idle = it->second.idle;
    if (!idle.empty()) {
      std::shared_ptr<KvHttp> session = std::move(idle.back());
      idle.pop_back();
      ++stats_.pops;
      return session;
    }
    options = it->second.options;
  }
  // None idle: the ones handed out earlier may have been dropped after failures.
  std::shared_ptr<KvHttp> session = make(options);
  if (!session) return nullptr;
  std::lock_guard<std::mutex> lock(mutex_);
  ++stats_.created;
  ++stats_.pops;
  return session;
}

void HttpSessionPool::push(const std::string& key, std::shared_ptr<KvHttp> session) {
  if (!session) return;
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(key);
  if (it == entries_.end()) return;
  std::vector<std::shared_ptr<KvHttp>>& idle = it->second.idle;
  // A session pushed twice would later be handed to two callers at once.
  if (std::find(idle.begin(), idle.end(), session) != idle.end()) return;
  idle.push_back(std::move(session));
  ++stats_.pushes;
}

void HttpSessionPool::removeSessions(const std::string& key) {
  std::lock_guard<std::mutex> lock(mutex_);
  entries_.erase(key);
}

HttpSessionPool::Stats HttpSessionPool::stats() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return stats_;
}

size_t HttpSessionPool::idleCount(const std::string& key) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = entries_.find(key);
  return it == entries_.end() ? 0 : it->second.idle.size();
}

void HttpSessionPool::setSessionFactory(SessionFactory factory) {
  std::lock_guard<std::mutex> lock(mutex_);
  factory_ = factory ? std::move(factory) : SessionFactory(makeDefaultSession);
}

// Never throws: a factory that fails yields an empty pointer.
std::shared_ptr<KvHttp> HttpSessionPool::make(const SessionOptions& options) {
  SessionFactory factory;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    factory = factory_;
  }
  try {
    return factory(options);
  } catch (const std::exception&) {
    return nullptr;
  }
}

}  // namespace orvex
