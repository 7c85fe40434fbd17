// Deterministic fault injection for tests of the service's clients.
//
// A rule names an endpoint path ("*" for every endpoint), what goes wrong and when. Each rule
// counts the requests to its path from the moment it was added; it fires on the first `n` of them
// (Trigger::First) or on every n-th (Trigger::Every: the n-th, 2n-th, ...). When several rules fire
// on one request the earliest added wins; every matching rule counts the request either way.
//
// Rules are written as name=value pairs, on the command line joined by ",":
//   kind=K      what happens (required): status, delay, close, garbage, answer, or one of the
//               hostile framings chunked-cut, bad-chunk, drip, endless, caps-headers (see kindName)
//   code=N      kind=status: the HTTP status to answer with (100..599, default 503);
//               kind=answer: the same, default 200
//   body=TEXT   kind=answer: the body to answer with (default empty)
//   header=N:V  kind=answer: a response header to send (repeatable)
//   ms=N        kind=delay: milliseconds to wait before answering normally; without it the
//               request's "Request-Timeout" plus 500 ms (1500 ms when the header is absent).
//               kind=drip: milliseconds between two bytes (default 1000)
//   path=P      the endpoint, e.g. /QryCodeType (default "*")
//   first=N     fire on the first N requests        } exactly one of the two; N >= 1
//   every=N     fire on every N-th request          } (default every=1)
//
// On the command line a value may be percent-encoded (a comma is %2C), so any body can be given.
//
// Thread-safe.
#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace orvex {
namespace hqserver {

struct FaultRule {
  // Answer: the given status, body and headers instead of the real answer.
  // ChunkedCut: the answer chunked, closed after half its body, without the final chunk.
  // BadChunk: the answer chunked, with a chunk-size line that is not hexadecimal.
  // Drip: the answer sent one byte at a time, `ms` apart.
  // Endless: a body declared 10^12 bytes long, sent until the client or the service gives up.
  // CapsHeaders: answered normally, the paging headers named "Page", "IsLast", ...
  enum class Kind {
    Status,
    Delay,
    Close,
    Garbage,
    Answer,
    ChunkedCut,
    BadChunk,
    Drip,
    Endless,
    CapsHeaders
  };
  enum class Trigger { First, Every };

  Kind kind = Kind::Status;
  int code = 503;
  int delayMs = -1;  // -1: the kind's default
  std::string path = "*";
  Trigger trigger = Trigger::Every;
  int64_t n = 1;
  std::string body;                                          // kind=answer
  std::vector<std::pair<std::string, std::string>> headers;  // kind=answer

  // Parses name=value pairs as described above; on failure returns nothing and sets `error`.
  static std::optional<FaultRule> parse(
      const std::vector<std::pair<std::string, std::string>>& args, std::string& error);
  // The command-line form: "kind=status,code=500,path=/QryLast,first=2".
  static std::optional<FaultRule> parse(const std::string& settings, std::string& error);
  // The rule in the command-line form.
  std::string toString() const;
  static const char* kindName(Kind kind);
};

class FaultInjector {
 public:
  FaultInjector() = default;
  FaultInjector(const FaultInjector&) = delete;
  FaultInjector& operator=(const FaultInjector&) = delete;

  void add(const FaultRule& rule);
  // Removes every rule.
  void clear();
  // Counts one request to `path` and returns the rule that fires on it, if any.
  std::optional<FaultRule> next(const std::string& path);
  // Number of faults injected since start.
  uint64_t fired() const;
  std::vector<FaultRule> rules() const;

 private:
  struct Active {
    FaultRule rule;
    int64_t seen = 0;
  };
  mutable std::mutex mutex_;
  std::vector<Active> active_;
  uint64_t fired_ = 0;
};

}  // namespace hqserver
}  // namespace orvex
