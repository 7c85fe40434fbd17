// Times as the command line reads and prints them: signed 64-bit nanoseconds since 1970 (UTC).
//
// Stateless and thread-safe.
#pragma once

#include <cstdint>
#include <string>

namespace orvex {
namespace cli {

// Parses `text` into nanoseconds. Accepts plain (optionally negative) nanoseconds, or an ISO-8601
// date or date-time: "2024-01-02", "2024-01-02T09:30", "2024-01-02T09:30:00.25Z",
// "2024-01-02 09:30:00+08:00". A date-time without an offset is UTC. Returns false, leaving `ns`
// untouched, when the text is malformed or out of range.
bool parseTime(const std::string& text, int64_t& ns);

// "2024-01-02 09:30:00.250" in UTC: the fraction has 3, 6 or 9 digits, as many as needed.
std::string formatUtc(int64_t ns);

// "2024-01-02T09:30:00.250Z": formatUtc() in ISO-8601 form, exact to the nanosecond.
std::string formatIso(int64_t ns);

}  // namespace cli
}  // namespace orvex
