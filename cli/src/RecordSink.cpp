#include "RecordSink.h"

namespace orvex {
namespace cli {

RecordSink::RecordSink(std::unique_ptr<RecordWriter> writer, std::ostream& out,
                       const FdStreamBuf* buffer)
    : writer_(std::move(writer)), out_(out), buffer_(buffer) {}

bool RecordSink::write(const std::vector<CloudTopic>& topics) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (closed_ || failed_) return false;
  if (beforeWrite_) beforeWrite_();
  writer_->write(topics);
  for (const CloudTopic& topic : topics) {
    records_ += topic.bodies.size();
    perTarget_[topic.target] += topic.bodies.size();
  }
  ++batches_;
  return checkStream();
}

bool RecordSink::finish() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed_ && !failed_) {
    if (beforeWrite_) beforeWrite_();
    writer_->finish();
    checkStream();
  }
  closed_ = true;
  return !failed_;
}

void RecordSink::close() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!closed_ && !failed_) {
    out_.flush();
    checkStream();
  }
  closed_ = true;
}

bool RecordSink::checkStream() {
  if (out_.good()) return true;
  failed_ = true;
  if (onWriteError_) onWriteError_();
  return false;
}

uint64_t RecordSink::records() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return records_;
}

uint64_t RecordSink::batches() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return batches_;
}

uint64_t RecordSink::recordsOf(const std::string& target) const {
  std::lock_guard<std::mutex> lock(mutex_);
  const auto it = perTarget_.find(target);
  return it == perTarget_.end() ? 0 : it->second;
}

std::string RecordSink::writeError() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return failed_ ? writeFailureText(buffer_) : "";
}

}  // namespace cli
}  // namespace orvex
