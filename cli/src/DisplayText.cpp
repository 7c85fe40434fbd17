#include "DisplayText.h"

#include "orvex/CodeConvert.h"

namespace orvex {
namespace cli {

std::string messageText(const std::string& gbk) { return CodeConvert::gbk_to_utf8(gbk); }

std::string fieldText(const std::string& text) {
  return isValidUtf8(text) ? text : CodeConvert::gbk_to_utf8(text);
}

bool isValidUtf8(const std::string& text) {
  size_t i = 0;
  while (i < text.size()) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    int follow = 0;
    unsigned min = 0;
    unsigned cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      follow = 1, min = 0x80, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      follow = 2, min = 0x800, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      follow = 3, min = 0x10000, cp = c & 0x07;
    } else {
      return false;
    }
    if (i + follow >= text.size()) return false;  // truncated sequence
    for (int k = 1; k <= follow; ++k) {
      const unsigned char cc = static_cast<unsigned char>(text[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    // Overlong forms, surrogates and values past U+10FFFF are not UTF-8.
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
    i += follow + 1;
  }
  return true;
}

}  // namespace cli
}  // namespace orvex
