// A unit of work handed to a worker pool. Implementations decide their own thread-safety; a pool
// runs each task once, on one of its threads.
#pragma once

namespace orvex {

class IQuoteTask {
 public:
  virtual ~IQuoteTask() = default;  // slot 0
  virtual void run() = 0;           // slot 1
};

}  // namespace orvex
