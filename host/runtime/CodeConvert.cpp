// UTF-8 <-> GBK through Poco's code page 936 tables.
#include "orvex/CodeConvert.h"

#include <Poco/TextConverter.h>
#include <Poco/UTF8Encoding.h>
#include <Poco/Windows936Encoding.h>

#include <exception>

namespace orvex {
namespace {

std::string convert(Poco::TextEncoding& from, Poco::TextEncoding& to, const std::string& text) {
  std::string out;
  out.reserve(text.size() + text.size() / 2);
  try {
    Poco::TextConverter converter(from, to, '?');
    converter.convert(text, out);
  } catch (const std::exception&) {
    // The converter reports bad input by substitution; anything else leaves what was converted.
  }
  return out;
}

}  // namespace

std::string CodeConvert::utf8_to_gbk(const std::string& utf8) {
  Poco::UTF8Encoding from;
  Poco::Windows936Encoding to;
  return convert(from, to, utf8);
}

std::string CodeConvert::gbk_to_utf8(const std::string& gbk) {
  Poco::Windows936Encoding from;
  Poco::UTF8Encoding to;
  return convert(from, to, gbk);
}

}  // namespace orvex
