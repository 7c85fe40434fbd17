// Captures the lines written to the "DaZaviVor" logger while it lives.
//
// Construction attaches an in-memory appender to the logger and sets the logger's level;
// destruction detaches it and restores the previous level. Thread-safe: lines may be written from
// any thread while a test reads them.
#pragma once

#include <log4cxx/level.h>

#include <memory>
#include <string>
#include <vector>

namespace orvex {
namespace test {

class LogCapture {
 public:
  explicit LogCapture(const log4cxx::LevelPtr& level = log4cxx::Level::getTrace(),
                      const std::string& loggerName = "DaZaviVor");
  ~LogCapture();

  LogCapture(const LogCapture&) = delete;
  LogCapture& operator=(const LogCapture&) = delete;

  // One captured event: the log4cxx level name ("DEBUG" ...) and the rendered message.
  struct Entry {
    std::string level;
    std::string text;
  };

  // The rendered messages (the text handed to log4cxx, without any layout), in order.
  std::vector<std::string> lines() const;
  // The captured events with their levels, in order.
  std::vector<Entry> entries() const;
  // The lines containing `needle`.
  std::vector<std::string> linesContaining(const std::string& needle) const;

 private:
  struct Impl;
  std::unique_ptr<Impl> impl_;
};

}  // namespace test
}  // namespace orvex
