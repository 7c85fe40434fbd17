// Log statements on the plug-in's logger "DaZaviVor".
//
// Every statement tests its level first; nothing is built, formatted or converted for a disabled
// level (no clock read, no record's toString). An enabled statement builds, in one buffer local
// to the statement: an optional date-time prefix (when orvex::isTimeEnabled()), the level tag
// ("[DEBUG] " ...), the logger's name and a blank, then the message pieces, and hands the line to
// log4cxx in one forcedLog call with the statement's location. Thread-safe.
//
// Message pieces may be texts (std::string, const char*, char), integers of any width and
// enumerations (plain decimal), bool (1 or 0) and the records ResultStatus, TopicReq and
// PageResponse (their toString forms), in any order. Any other type with an operator<< for
// std::ostream is written by it.
//
// Usage, with a logger handle held by the source unit:
//   static log4cxx::LoggerPtr logger = log4cxx::Logger::getLogger(orvex::kLoggerName);
//   ORVEX_LOG_DEBUG(logger, "reqDataByRange end,requestId=" << requestId << "," << status);
#pragma once

#include <log4cxx/logger.h>

#include <charconv>
#include <ios>
#include <ostream>
#include <string>
#include <type_traits>

#include "orvex/Records.h"
#include "orvex/ResultStatus.h"

namespace orvex {

constexpr const char* kLoggerName = "DaZaviVor";

namespace logline {

// Integers of every width and enumerations; bool and char are written as texts.
template <typename T>
constexpr bool kIsNumber = (std::is_integral<T>::value || std::is_enum<T>::value) &&
                           !std::is_same<T, bool>::value && !std::is_same<T, char>::value;

// The pieces of one enabled statement, appended to the statement's log4cxx MessageBuffer.
// Texts, integers and records are appended as characters; only other types (floating point,
// pointers, manipulators, user types) switch the buffer to its std::ostream, which costs far more.
// Lives for one statement; not shared between threads.
class Line {
 public:
  explicit Line(log4cxx::helpers::CharMessageBuffer& buf) : buf_(buf) {}

  Line& operator<<(const std::string& text) {
    buf_ << text;
    return *this;
  }
  Line& operator<<(const char* text) {
    buf_ << (text != nullptr ? text : "(null)");
    return *this;
  }
  Line& operator<<(char c) {
    buf_ << c;
    return *this;
  }
  Line& operator<<(bool value) { return *this << (value ? '1' : '0'); }
  Line& operator<<(const ResultStatus& status) { return *this << status.toString(); }
  Line& operator<<(const TopicReq& req) { return *this << req.toString(); }
  Line& operator<<(const PageResponse& rsp) { return *this << rsp.toString(); }

  // Integers of every width and enumerations, in plain decimal.
  template <typename T, std::enable_if_t<kIsNumber<T>, int> = 0>
  Line& operator<<(T value) {
    char digits[24];
    std::to_chars_result end = std::to_chars(digits, digits + sizeof(digits) - 1, toInteger(value));
    *end.ptr = '\0';
    buf_ << static_cast<const char*>(digits);
    return *this;
  }

  // Anything else std::ostream can write.
  template <typename T, std::enable_if_t<!kIsNumber<T>, int> = 0>
  Line& operator<<(const T& value) {
    stream() << value;
    return *this;
  }
  Line& operator<<(std::ios_base& (*manipulator)(std::ios_base&)) {
    stream() << manipulator;
    return *this;
  }

  // The finished line, owned by the MessageBuffer.
  const std::string& text() {
    return buf_.hasStream() ? buf_.str(static_cast<std::ostream&>(buf_)) : buf_.str(buf_);
  }

 private:
  template <typename T>
  static auto toInteger(T value) {
    if constexpr (std::is_enum<T>::value) {
      return static_cast<std::underlying_type_t<T>>(value);
    } else {
      return value;
    }
  }
  // Once created, the buffer sends every later text piece to this stream too.
  std::ostream& stream() { return buf_; }

  log4cxx::helpers::CharMessageBuffer& buf_;
};

// Appends the optional date-time prefix, `tag` and the logger's name with its blank to `buf`;
// returns the line that the message pieces continue.
Line begin(log4cxx::helpers::MessageBuffer& buf, const char* tag, const log4cxx::LoggerPtr& logger);

}  // namespace logline
}  // namespace orvex

#define ORVEX_LOG_AT(logger, isEnabled, level, tag, message)                                \
  do {                                                                                      \
    const ::log4cxx::LoggerPtr& orvexLogger_ = (logger);                                    \
    if (orvexLogger_->isEnabled()) {                                                        \
      ::log4cxx::helpers::MessageBuffer orvexBuf_;                                          \
      orvexLogger_->forcedLog(                                                              \
          level, (::orvex::logline::begin(orvexBuf_, tag, orvexLogger_) << message).text(), \
          LOG4CXX_LOCATION);                                                                \
    }                                                                                       \
  } while (0)

#define ORVEX_LOG_TRACE(logger, message) \
  ORVEX_LOG_AT(logger, isTraceEnabled, ::log4cxx::Level::getTrace(), "[TRACE] ", message)
#define ORVEX_LOG_DEBUG(logger, message) \
  ORVEX_LOG_AT(logger, isDebugEnabled, ::log4cxx::Level::getDebug(), "[DEBUG] ", message)
#define ORVEX_LOG_INFO(logger, message) \
  ORVEX_LOG_AT(logger, isInfoEnabled, ::log4cxx::Level::getInfo(), "[INFO ] ", message)
#define ORVEX_LOG_WARN(logger, message) \
  ORVEX_LOG_AT(logger, isWarnEnabled, ::log4cxx::Level::getWarn(), "[WARN ] ", message)
#define ORVEX_LOG_ERROR(logger, message) \
  ORVEX_LOG_AT(logger, isErrorEnabled, ::log4cxx::Level::getError(), "[ERROR] ", message)
