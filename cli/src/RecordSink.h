// Where a command's records go: one writer on the output, shared by the threads that deliver
// batches, with the counts of what was written and the first write error.
//
// Thread-safe: batches are written one at a time, each whole. close() waits for the batch in
// progress and drops every later one, so the program can end at any moment without cutting a
// line.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <vector>

#include "FdStreamBuf.h"
#include "RecordWriter.h"

namespace orvex {
namespace cli {

class RecordSink {
 public:
  // Writes through `writer` on `out`; `buffer`, when given, is `out`'s buffer and tells why a
  // write failed. Both must outlive the sink.
  RecordSink(std::unique_ptr<RecordWriter> writer, std::ostream& out,
             const FdStreamBuf* buffer = nullptr);

  RecordSink(const RecordSink&) = delete;
  RecordSink& operator=(const RecordSink&) = delete;

  // Called under the sink's lock before each batch is written (to clear a progress line) and
  // once when a write first fails (to stop the requests).
  void setBeforeWrite(std::function<void()> hook) { beforeWrite_ = std::move(hook); }
  void setOnWriteError(std::function<void()> hook) { onWriteError_ = std::move(hook); }

  // Writes a batch whole and flushes it. False when the output has failed or is closed; the
  // batch is then dropped.
  bool write(const std::vector<CloudTopic>& topics);
  // Ends the output (a table prints its rows) and closes the sink. False on a write error.
  bool finish();
  // Flushes what was written and drops every later batch; does not end a table.
  void close();

  uint64_t records() const;
  uint64_t batches() const;
  // Records written of `target`.
  uint64_t recordsOf(const std::string& target) const;
  // "cannot write the output: No space left on device"; empty while writes succeed.
  std::string writeError() const;

 private:
  bool checkStream();

  std::unique_ptr<RecordWriter> writer_;
  std::ostream& out_;
  const FdStreamBuf* buffer_;
  std::function<void()> beforeWrite_;
  std::function<void()> onWriteError_;
  mutable std::mutex mutex_;
  bool closed_ = false;
  bool failed_ = false;
  uint64_t records_ = 0;
  uint64_t batches_ = 0;
  std::map<std::string, uint64_t> perTarget_;
};

}  // namespace cli
}  // namespace orvex
