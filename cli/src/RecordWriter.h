// Writers of records in the command line's output formats.
//
// csv:   a header line "target,key,time,value,data", then one line per record; time in
//        nanoseconds; fields holding a comma, a quote or a line break are quoted (RFC 4180).
// json:  one object per record and line:
//        {"target":..,"key":..,"time":..,"utc":"2024-06-04T01:30:00.250Z","value":..,"data":..}.
// table: aligned columns with a header, times as UTC date-times.
//
// A writer is not thread-safe; callers that write from several threads serialise the calls.
#pragma once

#include <memory>
#include <ostream>
#include <string>
#include <vector>

#include "orvex/Records.h"

namespace orvex {
namespace cli {

enum class OutputFormat { Csv, Json, Table };

// "csv", "json" or "table"; false for anything else.
bool parseOutputFormat(const std::string& text, OutputFormat& format);

class RecordWriter {
 public:
  virtual ~RecordWriter() = default;

  // Writes the records of `topics` in list order, each topic's bodies in their order, and
  // flushes the stream so that a reader sees every batch as soon as it is written.
  virtual void write(const std::vector<CloudTopic>& topics) = 0;
  // Ends the output; a table that waited for its rows prints them now. Call once, last.
  virtual void finish() = 0;
};

// A writer on `out`, which must outlive it. A streaming table prints each batch at once and
// fixes its column widths on the first batch; a non-streaming one prints everything at finish()
// with widths that fit every row.
std::unique_ptr<RecordWriter> makeRecordWriter(OutputFormat format, std::ostream& out,
                                               bool streaming);

// `text` as an RFC 4180 field: quoted when it holds a comma, a quote or a line break.
std::string csvField(const std::string& text);

// The shortest text that reads back as exactly `value`.
std::string formatValue(double value);

}  // namespace cli
}  // namespace orvex
