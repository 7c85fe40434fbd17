#include "RecordWriter.h"

#include <rapidjson/stringbuffer.h>
#include <rapidjson/writer.h>

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

class CsvWriter : public RecordWriter {
 public:
  explicit CsvWriter(std::ostream& out) : out_(out) {}

  void write(const std::vector<CloudTopic>& topics) override {
    writeHeader();
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
  void finish() override {
    writeHeader();
    out_.flush();
  }

 private:
  // The header comes with the first output, so a run that fails before any prints nothing.
  void writeHeader() {
    if (headerWritten_) return;
    out_ << "target,key,time,value,data\n";
    headerWritten_ = true;
  }

  std::ostream& out_;
  bool headerWritten_ = false;
};

class JsonWriter : public RecordWriter {
 public:
  explicit JsonWriter(std::ostream& out) : out_(out) {}

  void write(const std::vector<CloudTopic>& topics) override {
    for (const CloudTopic& topic : topics) {
      const std::string target = fieldText(topic.target);
      const std::string key = fieldText(topic.key);
      for (const TopicBody& body : topic.bodies) {
        rapidjson::StringBuffer buffer;
        rapidjson::Writer<rapidjson::StringBuffer> w(buffer);
        w.StartObject();
        w.Key("target");
        w.String(target.c_str(), static_cast<rapidjson::SizeType>(target.size()));
        w.Key("key");
        w.String(key.c_str(), static_cast<rapidjson::SizeType>(key.size()));
        w.Key("time");
        w.Int64(body.time);
        // Beside the nanoseconds, which lose precision above 2^53 in jq and JavaScript.
        w.Key("utc");
        w.String(formatIso(body.time).c_str());
        w.Key("value");
        // The same shortest exact text as csv; JSON has no NaN or infinity.
        if (std::isfinite(body.value)) {
          const std::string value = formatValue(body.value);
          w.RawValue(value.c_str(), value.size(), rapidjson::kNumberType);
        } else {
          w.Null();
        }
        const std::string data = fieldText(body.data);
        w.Key("data");
        w.String(data.c_str(), static_cast<rapidjson::SizeType>(data.size()));
        w.EndObject();
        out_ << buffer.GetString() << '\n';
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

std::string csvField(const std::string& text) {
  if (text.find_first_of(",\"\r\n") == std::string::npos) return text;
  std::string quoted = "\"";
  for (char c : text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

std::string formatValue(double value) {
  char buf[64];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  return std::string(buf, result.ptr);
}

}  // namespace cli
}  // namespace orvex
