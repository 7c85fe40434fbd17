// Turning the plug-in's narrow strings into UTF-8 for the terminal. Stateless and thread-safe.
#pragma once

#include <string>

namespace orvex {
namespace cli {

// A result message: the plug-in writes its messages in GBK, so it is always converted.
std::string messageText(const std::string& gbk);

// A record field (target, key, data): printed unchanged when it already is valid UTF-8 (ASCII
// included), otherwise read as GBK and converted.
std::string fieldText(const std::string& text);

bool isValidUtf8(const std::string& text);

}  // namespace cli
}  // namespace orvex
