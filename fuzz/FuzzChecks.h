// Properties checked on arbitrary input by the fuzzers, and replayed by the regression tests.
//
// Each check feeds one input to the code under test and returns a description of the first
// broken property, or an empty string when every property holds. A crash, a sanitizer report or
// an uncaught exception inside the code under test is a finding as well. The fuzzer mains abort on
// a non-empty result; the regression test expects it empty for every stored input.
//
// Stateless apart from read-only data built on first use; safe to call from several threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace orvex {
namespace fuzz {

// The record text readers of TopicUtils: failure leaves the out list exactly as it was; success
// only appends; what they read, written back with TopicUtils' writers, reads back the same; the
// three readers agree with each other.
std::string checkRecordText(const uint8_t* data, size_t size);

// The client's reading of a "/getServerVersion" body: only OK or UNKNOWN with the parse-failure
// text; the name changes only on OK and only to the "name" string of a JSON object.
std::string checkServerNameBody(const uint8_t* data, size_t size);

// The local service's handling of a request target ("/QryLast?codes=..."): URI and query parsing,
// the endpoint answers, the signature text, and the fault-rule parser of the control endpoint.
// Answers are 200, 400 or 404; a 200 record answer is readable by the client's record readers;
// a fault rule that parses writes back to a text that parses to the same rule.
std::string checkServiceRequest(const uint8_t* data, size_t size);

// orvex_cli's command line (the arguments NUL-separated): an error is one line that points at the
// usage; a command that runs has its key and targets where it expects them, none empty or
// holding a comma (nor leaving the output directory, for a download), an ordered time range, a
// positive --max where one is needed and a shard within its count.
std::string checkCommandLine(const uint8_t* data, size_t size);

}  // namespace fuzz
}  // namespace orvex
