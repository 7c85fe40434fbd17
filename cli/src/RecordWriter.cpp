#include "RecordWriter.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <cmath>
#include <cstdio>

#include "DisplayText.h"
#include "TimeText.h"

namespace orvex {
namespace cli {
namespace {

constexpr const char* kColumns[] = {"target", "key", "time", "value", "data"};
constexpr size_t kColumnCount = 5;

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string jsonString(const std::string& utf8) {
  std::string out = "\"";
  for (char ch : utf8) {
    const unsigned char c = static_cast<unsigned char>(ch);
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

class CsvWriter : public RecordWriter {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) { out_ << "target,key,time,value,data\n"; }

  void write(const std::vector<CloudTopic>& topics) override {
    for (const CloudTopic& topic : topics) {
      const std::string prefix =
          csvField(fieldText(topic.target)) + "," + csvField(fieldText(topic.key)) + ",";
      for (const TopicBody& body : topic.bodies) {
        out_ << prefix << body.time << ',' << formatValue(body.value) << ','
             << csvField(fieldText(body.data)) << '\n';
      }
    }
    out_.flush();
  }
  void finish() override { out_.flush(); }

 private:
  std::ostream& out_;
};

class JsonWriter : public RecordWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void write(const std::vector<CloudTopic>& topics) override {
    for (const CloudTopic& topic : topics) {
      const std::string prefix = "{\"target\":" + jsonString(fieldText(topic.target)) +
                                 ",\"key\":" + jsonString(fieldText(topic.key)) + ",\"time\":";
      for (const TopicBody& body : topic.bodies) {
        // JSON has no NaN or infinity.
        const std::string value = std::isfinite(body.value) ? formatValue(body.value) : "null";
        out_ << prefix << body.time << ",\"value\":" << value
             << ",\"data\":" << jsonString(fieldText(body.data)) << "}\n";
      }
    }
    out_.flush();
  }
  void finish() override { out_.flush(); }

 private:
  std::ostream& out_;
};

class TableWriter : public RecordWriter {
 public:
  TableWriter(std::ostream& out, bool streaming) : out_(out), streaming_(streaming) {
    for (size_t i = 0; i < kColumnCount; ++i)
      widths_[i] = std::char_traits<char>::length(kColumns[i]);
  }

  void write(const std::vector<CloudTopic>& topics) override {
    std::vector<Row> rows = toRows(topics);
    if (!streaming_) {
      rows_.insert(rows_.end(), rows.begin(), rows.end());
      return;
    }
    if (!headerWritten_) {
      fitWidths(rows);
      writeHeader();
    }
    writeRows(rows);
    out_.flush();
  }

  void finish() override {
    if (!streaming_) fitWidths(rows_);
    if (!headerWritten_) writeHeader();
    writeRows(rows_);
    rows_.clear();
    out_.flush();
  }

 private:
  using Row = std::array<std::string, kColumnCount>;

  static std::vector<Row> toRows(const std::vector<CloudTopic>& topics) {
    std::vector<Row> rows;
    for (const CloudTopic& topic : topics) {
      for (const TopicBody& body : topic.bodies) {
        rows.push_back(Row{fieldText(topic.target), fieldText(topic.key), formatUtc(body.time),
                           formatValue(body.value), fieldText(body.data)});
      }
    }
    return rows;
  }

  // Display width: UTF-8 code points, wide (CJK) ones counting two columns.
  static size_t displayWidth(const std::string& text) {
    size_t width = 0;
    for (size_t i = 0; i < text.size(); ++i) {
      const unsigned char c = static_cast<unsigned char>(text[i]);
      if ((c & 0xC0) == 0x80) continue;
      width += c >= 0xE0 ? 2 : 1;
    }
    return width;
  }

  void fitWidths(const std::vector<Row>& rows) {
    for (const Row& row : rows) {
      for (size_t i = 0; i + 1 < kColumnCount; ++i) {
        widths_[i] = std::max(widths_[i], displayWidth(row[i]));
      }
    }
  }

  void writeHeader() {
    writeRow(Row{kColumns[0], kColumns[1], kColumns[2], kColumns[3], kColumns[4]});
    headerWritten_ = true;
  }

  void writeRows(const std::vector<Row>& rows) {
    for (const Row& row : rows) writeRow(row);
  }

  // Values are right-aligned, the other columns left-aligned; the last column is not padded.
  void writeRow(const Row& row) {
    std::string line;
    for (size_t i = 0; i + 1 < kColumnCount; ++i) {
      const std::string pad(widths_[i] - std::min(widths_[i], displayWidth(row[i])), ' ');
      line += i == 3 ? pad + row[i] : row[i] + pad;
      line += "  ";
    }
    line += row[kColumnCount - 1];
    out_ << line << '\n';
  }

  std::ostream& out_;
  const bool streaming_;
  bool headerWritten_ = false;
  std::array<size_t, kColumnCount> widths_{};
  std::vector<Row> rows_;
};

}  // namespace

bool parseOutputFormat(const std::string& text, OutputFormat& format) {
  if (text == "csv") {
    format = OutputFormat::Csv;
  } else if (text == "json") {
    format = OutputFormat::Json;
  } else if (text == "table") {
    format = OutputFormat::Table;
  } else {
    return false;
  }
  return true;
}

std::unique_ptr<RecordWriter> makeRecordWriter(OutputFormat format, std::ostream& out,
                                               bool streaming) {
  switch (format) {
    case OutputFormat::Json:
      return std::make_unique<JsonWriter>(out);
    case OutputFormat::Table:
      return std::make_unique<TableWriter>(out, streaming);
    case OutputFormat::Csv:
      break;
  }
  return std::make_unique<CsvWriter>(out);
}

std::string formatValue(double value) {
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

}  // namespace cli
}  // namespace orvex
