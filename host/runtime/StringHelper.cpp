// Text helpers: number parsing without exceptions, digests through Poco's engines.
#include "orvex/StringHelper.h"

#include <Poco/DigestEngine.h>
#include <Poco/HMACEngine.h>
#include <Poco/MD5Engine.h>
#include <Poco/SHA2Engine.h>

#include <charconv>
#include <string_view>

namespace orvex {
namespace {

// Poco 1.11's SHA2Engine lacks the block and digest sizes that HMACEngine needs.
class Sha256Engine : public Poco::SHA2Engine {
 public:
  enum { BLOCK_SIZE = 64, DIGEST_SIZE = 32 };
  Sha256Engine() : Poco::SHA2Engine(Poco::SHA2Engine::SHA_256) {}
};

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trim(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

// The whole trimmed text as a decimal integer of type T; false when it is not one or does not fit.
template <typename T>
bool parseInteger(const std::string& text, T& out) {
  std::string_view view = trim(text);
  if (!view.empty() && view.front() == '+') {
    view.remove_prefix(1);
    if (!view.empty() && view.front() == '-') return false;
  }
  if (view.empty()) return false;
  const char* end = view.data() + view.size();
  auto result = std::from_chars(view.data(), end, out);
  return result.ec == std::errc() && result.ptr == end;
}

char lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }

}  // namespace

int32_t StringHelper::ToInt(const std::string& text) {
  int32_t value = 0;
  return parseInteger(text, value) ? value : 0;
}

int64_t StringHelper::ToInt64(const std::string& text) {
  int64_t value = 0;
  return parseInteger(text, value) ? value : 0;
}

bool StringHelper::ToBool(const std::string& text) {
  std::string_view view = trim(text);
  if (view.size() == 4 && lower(view[0]) == 't' && lower(view[1]) == 'r' && lower(view[2]) == 'u' &&
      lower(view[3]) == 'e') {
    return true;
  }
  int64_t value = 0;
  return parseInteger(text, value) && value != 0;
}

std::string StringHelper::ToLowerCase(const std::string& text) {
  std::string out(text);
  for (char& c : out) c = lower(c);
  return out;
}

std::string StringHelper::ToCsvString(const std::vector<std::string>& items, char separator) {
  size_t size = items.empty() ? 0 : items.size() - 1;
  for (const std::string& item : items) size += item.size();
  std::string out;
  out.reserve(size);
  for (size_t i = 0; i < items.size(); ++i) {
    if (i != 0) out.push_back(separator);
    out += items[i];
  }
  return out;
}

std::string StringHelper::md5(const std::string& data) {
  Poco::MD5Engine engine;
  engine.update(data);
  return Poco::DigestEngine::digestToHex(engine.digest());
}

std::string StringHelper::sha256(const std::string& data, const std::string& key) {
  Poco::HMACEngine<Sha256Engine> engine(key);
  engine.update(data);
  return Poco::DigestEngine::digestToHex(engine.digest());
}

}  // namespace orvex
