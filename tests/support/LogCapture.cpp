// In-memory appender behind LogCapture.
#include "LogCapture.h"

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/helpers/transcoder.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <mutex>

namespace orvex {
namespace test {

namespace {

// Collects each event's level and rendered message. The test reads from its own thread while
// other threads may still append, so the list has its own mutex.
class MemoryAppender : public log4cxx::AppenderSkeleton {
 public:
  void close() override {}
  bool requiresLayout() const override { return false; }

  std::vector<LogCapture::Entry> entries() const {
    std::lock_guard<std::mutex> lock(mutex_);
    return entries_;
  }

 protected:
  void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool&) override {
    LogCapture::Entry entry;
    // Back to the bytes the statement built (log4cxx decoded them with the process's charset).
    log4cxx::helpers::Transcoder::encode(event->getLevel()->toString(), entry.level);
    log4cxx::helpers::Transcoder::encode(event->getRenderedMessage(), entry.text);
    std::lock_guard<std::mutex> lock(mutex_);
    entries_.push_back(std::move(entry));
  }

 private:
  mutable std::mutex mutex_;
  std::vector<LogCapture::Entry> entries_;
};

}  // namespace

struct LogCapture::Impl {
  log4cxx::LoggerPtr logger;
  log4cxx::LevelPtr previousLevel;
  std::shared_ptr<MemoryAppender> appender;
};

LogCapture::LogCapture(const log4cxx::LevelPtr& level, const std::string& loggerName)
    : impl_(std::make_unique<Impl>()) {
  impl_->logger = log4cxx::Logger::getLogger(loggerName);
  impl_->previousLevel = impl_->logger->getLevel();
  impl_->appender = std::make_shared<MemoryAppender>();
  impl_->logger->addAppender(impl_->appender);
  impl_->logger->setLevel(level);
}

LogCapture::~LogCapture() {
  impl_->logger->removeAppender(impl_->appender);
  impl_->logger->setLevel(impl_->previousLevel);
}

std::vector<LogCapture::Entry> LogCapture::entries() const { return impl_->appender->entries(); }

std::vector<std::string> LogCapture::lines() const { return linesContaining(""); }

std::vector<std::string> LogCapture::linesContaining(const std::string& needle) const {
  std::vector<std::string> found;
  for (Entry& entry : impl_->appender->entries()) {
    if (entry.text.find(needle) != std::string::npos) found.push_back(std::move(entry.text));
  }
  return found;
}

}  // namespace test
}  // namespace orvex
