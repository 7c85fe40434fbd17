// Properties of the client's reading of a "/getServerVersion" body on arbitrary bytes.
#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

#include <string>

#include "FuzzChecks.h"
#include "orvex/Messages.h"
#include "orvex/ServerNameReader.h"

namespace orvex {
namespace fuzz {

namespace {

// {"name":<name>} as a JSON writer spells it; embedded NULs and any byte survive the escaping.
std::string nameDocument(const std::string& name) {
  rapidjson::StringBuffer buffer;
  rapidjson::Writer<rapidjson::StringBuffer> writer(buffer);
  writer.StartObject();
  writer.Key("name");
  writer.String(name.data(), static_cast<rapidjson::SizeType>(name.size()));
  writer.EndObject();
  return std::string(buffer.GetString(), buffer.GetSize());
}

}  // namespace

std::string checkServerNameBody(const uint8_t* data, size_t size) {
  const std::string body(reinterpret_cast<const char*>(data), size);
  const std::string before = "\x01previous";
  std::string name = before;
  const ResultStatus status = readServerName(body, name);

  if (status.code != OK && status.code != UNKNOWN) return "a code other than OK and UNKNOWN";
  if (status.code == UNKNOWN) {
    if (status.msg != msg::kJsonParseFailed) return "UNKNOWN without the parse-failure text";
    if (name != before) return "an unreadable body changed the name";
    return body.empty() ? "an empty body was refused" : "";
  }
  if (!status.msg.empty()) return "OK with a message";
  if (body.empty() && name != before) return "an empty body changed the name";

  // The result does not depend on what the caller held.
  std::string other;
  const ResultStatus again = readServerName(body, other);
  if (again.code != status.code) return "the result depends on the name held before";
  if (name != before && other != name) return "the name read depends on the name held before";
  if (name == before && !other.empty()) return "a name appeared only on the second read";

  // A name that was read reads back whole from a document holding only that name.
  if (name != before) {
    std::string copy;
    if (!readServerName(nameDocument(name), copy).ok() || copy != name) {
      return "the name does not survive a round trip";
    }
  }
  return "";
}

}  // namespace fuzz
}  // namespace orvex
