// The barrier between the plug-in and its host: an exception never leaves an operation the host
// calls. What escapes is logged at ERROR and becomes EN_ICE_SERVER_EXCEPTION with its text.
//
// Stateless; safe from any thread.
#pragma once

#include <exception>

#include "orvex/ResultStatus.h"

namespace marketdata {

class ExceptionBarrier {
 public:
  // The status `body` returns, or EN_ICE_SERVER_EXCEPTION with the text of the exception that
  // escaped it (logged at ERROR, naming `operation`).
  template <typename Body>
  static orvex::ResultStatus run(const char* operation, Body&& body) noexcept {
    try {
      return body();
    } catch (const std::exception& e) {
      return caught(operation, e.what());
    } catch (...) {
      return caught(operation, "unknown exception");
    }
  }

  // Logs the failure of `operation` at ERROR and returns it as EN_ICE_SERVER_EXCEPTION with the
  // message `what`; keeps at least the code when memory is short. Never throws.
  static orvex::ResultStatus caught(const char* operation, const char* what) noexcept;
};

}  // namespace marketdata
