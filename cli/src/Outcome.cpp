#include "Outcome.h"

#include <cctype>

#include "DisplayText.h"

namespace orvex {
namespace cli {

std::string describeStatus(const ResultStatus& status) {
  std::string text = codeName(status.code);
  if (!status.msg.empty()) text += ": " + messageText(status.msg);
  // A service's answer often ends in a line break; the report is one line.
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
  for (char& c : text) {
    if (c == '\n' || c == '\r') c = ' ';
  }
  return text;
}

bool isRefused(const ResultStatus& status) {
  if (status.code == EN_TokenErr || status.code == EN_FORBIDDEN) return true;
  return status.msg.find("HTTP 401 ") != std::string::npos ||
         status.msg.find("HTTP 403 ") != std::string::npos;
}

void Outcome::failed(const std::string& what, const ResultStatus& status) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (isRefused(status)) {
    refused_ = true;
    line(what +
         ": refused by the service (check token, key and secret): " + describeStatus(status));
  } else {
    failedCall_ = true;
    line(what + ": " + describeStatus(status));
  }
}

void Outcome::error(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  error_ = true;
  line(text);
}

void Outcome::incomplete(const std::string& why) {
  std::lock_guard<std::mutex> lock(mutex_);
  incomplete_ = true;
  line("warning: incomplete: " + why);
}

void Outcome::warn(const std::string& text) {
  std::lock_guard<std::mutex> lock(mutex_);
  line("warning: " + text);
}

void Outcome::interrupted() {
  std::lock_guard<std::mutex> lock(mutex_);
  interrupted_ = true;
}

int Outcome::exitCode(bool recordsPrinted) const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (interrupted_) return kExitInterrupted;
  if (refused_) return kExitRefused;
  if (error_) return kExitFailure;
  if (failedCall_) return recordsPrinted ? kExitIncomplete : kExitFailure;
  return incomplete_ ? kExitIncomplete : kExitOk;
}

void Outcome::line(const std::string& text) { err_ << "orvex_cli: " << text << std::endl; }

}  // namespace cli
}  // namespace orvex
