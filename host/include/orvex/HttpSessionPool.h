// A pool of KvHttp sessions, keyed by service address.
//
// addSession registers sessions for the address of the "Host" option; pop hands an idle session
// out exclusively, or makes a new one from the key's options when none is idle (so sessions
// dropped after failures never starve the pool); push gives a session back for reuse. An unknown
// key gives an empty pointer. All operations are thread-safe.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "orvex/Export.h"
#include "orvex/KvHttp.h"
#include "orvex/ResultStatus.h"

namespace orvex {

class ORVEX_RUNTIME_API HttpSessionPool {
 public:
  // Makes one session from the options of its key. Replaceable for tests.
  using SessionFactory = std::function<std::shared_ptr<KvHttp>(const SessionOptions&)>;

  // What the pool did so far, for diagnostics and tests.
  struct Stats {
    uint64_t pops = 0;     // sessions handed out
    uint64_t pushes = 0;   // sessions given back
    uint64_t created = 0;  // sessions made (by addSession and by pop)
    uint64_t misses = 0;   // pops of an unknown key
  };

  HttpSessionPool();
  ~HttpSessionPool();

  // Registers `count` new idle sessions under the "Host" option (a string). Later calls for the
  // same key replace its options and add sessions. Fails with INVALID_PARAM when "Host" is
  // missing or not a string, and with UNKNOWN when the factory could not make every session (the
  // ones made are kept).
  ResultStatus addSession(const SessionOptions& options, uint32_t count);

  // An idle or new session for `key`; empty when `key` was never registered or the factory fails.
  std::shared_ptr<KvHttp> pop(const std::string& key);

  // Gives `session` back as idle under `key`. Ignored for an unknown key, an empty pointer or a
  // session that is already idle.
  void push(const std::string& key, std::shared_ptr<KvHttp> session);

  // Forgets `key`: its idle sessions are freed and sessions still handed out under it are not
  // taken back. A later addSession registers it afresh. Unknown keys are ignored.
  void removeSessions(const std::string& key);

  Stats stats() const;
  size_t idleCount(const std::string& key) const;

  void setSessionFactory(SessionFactory factory);

  HttpSessionPool(const HttpSessionPool&) = delete;
  HttpSessionPool& operator=(const HttpSessionPool&) = delete;

 private:
  struct Entry {
    SessionOptions options;
    std::vector<std::shared_ptr<KvHttp>> idle;
  };

  std::shared_ptr<KvHttp> make(const SessionOptions& options);

  mutable std::mutex mutex_;
  std::map<std::string, Entry> entries_;
  SessionFactory factory_;
  Stats stats_;
};

}  // namespace orvex
