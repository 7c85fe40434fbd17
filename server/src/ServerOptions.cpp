#include "hqserver/ServerOptions.h"

#include <charconv>
#include <functional>
#include <map>

#include "hqserver/QueryService.h"

namespace orvex {
namespace hqserver {

namespace {

bool toInt(const std::string& text, int64_t low, int64_t high, int64_t& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return !text.empty() && ec == std::errc() && ptr == text.data() + text.size() && out >= low &&
         out <= high;
}

// Stores one option's value; returns an error text, empty on success.
using Setter = std::function<std::string(ServerOptions&, const std::string&)>;

Setter text(std::string ServerOptions::*field) {
  return [field](ServerOptions& o, const std::string& v) {
    o.*field = v;
    return std::string();
  };
}

template <typename T>
Setter number(T ServerOptions::*field, int64_t low, int64_t high, const char* option) {
  return [=](ServerOptions& o, const std::string& v) {
    int64_t n = 0;
    if (!toInt(v, low, high, n)) {
      return std::string(option) + " takes an integer in [" + std::to_string(low) + ", " +
             std::to_string(high) + "], not '" + v + "'";
    }
    o.*field = static_cast<T>(n);
    return std::string();
  };
}

const std::map<std::string, Setter>& valueOptions() {
  static const std::map<std::string, Setter> options = {
      {"--bind", text(&ServerOptions::bind)},
      {"--port", number(&ServerOptions::port, 0, 65535, "--port")},
      {"--name", text(&ServerOptions::name)},
      {"--token", text(&ServerOptions::token)},
      {"--key", text(&ServerOptions::key)},
      {"--secret", text(&ServerOptions::secret)},
      {"--wait-msec", number(&ServerOptions::waitMsec, 0, 2147483647, "--wait-msec")},
      {"--page-size",
       number(&ServerOptions::pageSize, 1, QueryService::kMaxPageSize, "--page-size")},
      {"--data", text(&ServerOptions::dataPath)},
      {"--request-log", text(&ServerOptions::requestLog)},
      {"--threads", number(&ServerOptions::threads, 1, 256, "--threads")},
      {"--tls-cert", text(&ServerOptions::tlsCert)},
      {"--tls-key", text(&ServerOptions::tlsKey)},
      {"--fault",
       [](ServerOptions& o, const std::string& v) {
         std::string error;
         auto rule = FaultRule::parse(v, error);
         if (!rule) return "--fault: " + error;
         o.faults.push_back(*rule);
         return std::string();
       }},
  };
  return options;
}

}  // namespace

CommandLine parseCommandLine(int argc, const char* const* argv) {
  CommandLine cl;
  auto fail = [&cl](std::string error) {
    cl.action = CommandLine::Action::Fail;
    cl.error = std::move(error);
    return cl;
  };
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    std::string value;
    bool inlineValue = false;
    if (auto eq = arg.find('='); arg.rfind("--", 0) == 0 && eq != std::string::npos) {
      value = arg.substr(eq + 1);
      arg.erase(eq);
      inlineValue = true;
    }
    if (arg == "--help" || arg == "-h") {
      cl.action = CommandLine::Action::Help;
      return cl;
    }
    if (arg == "--control" && !inlineValue) {
      cl.options.control = true;
      continue;
    }
    auto it = valueOptions().find(arg);
    if (it == valueOptions().end()) return fail("unknown option '" + arg + "'");
    if (!inlineValue) {
      if (i + 1 >= argc) return fail(arg + " needs a value");
      value = argv[++i];
    }
    std::string error = it->second(cl.options, value);
    if (!error.empty()) return fail(error);
  }
  if (cl.options.key.empty() != cl.options.secret.empty()) {
    return fail("--key and --secret go together");
  }
  if (cl.options.tlsCert.empty() != cl.options.tlsKey.empty()) {
    return fail("--tls-cert and --tls-key go together");
  }
  return cl;
}

std::string usageText(const std::string& program) {
  return "usage: " + program +
         " [options]\n"
         "A local history quote service over HTTP.\n"
         "  --bind ADDR         address to listen on (default 127.0.0.1)\n"
         "  --port N            port, 0 for an ephemeral one (default 0)\n"
         "  --name TEXT         name reported by /getServerVersion (default orvex-hqserver)\n"
         "  --token T           require the header kvauth: T (401 otherwise)\n"
         "  --key K --secret S  require a valid Authorization signature (403 otherwise)\n"
         "  --wait-msec N       send kv_reqwait_msec: N with every answer\n"
         "  --page-size N       records per page of /QryPageTgtDetailV2, 1..100000 (default 1000)\n"
         "  --data PATH         CSV file or directory of *.csv (default: embedded data set)\n"
         "  --request-log FILE  append one JSON line per request to FILE\n"
         "  --threads N         request threads, 1..256 (default 32); each open connection holds "
         "one\n"
         "  --tls-cert FILE --tls-key FILE  serve https with this PEM certificate and key\n"
         "  --control           serve the /_control/ endpoints (fault injection, pacing)\n"
         "  --fault RULE        inject a fault, e.g. kind=status,code=500,path=/QryLast,first=2\n"
         "                      (repeatable; see docs/service.md)\n"
         "  --help              this text\n"
         "The first line written to standard output is \"listening on http://HOST:PORT\".\n";
}

}  // namespace hqserver
}  // namespace orvex
