// The files of one partition in a download directory: DIR/KEY/TARGET/YYYY-MM-DD.csv.gz (or
// .csv), columns time,value,data, and beside it YYYY-MM-DD.meta.json, the sidecar that records
// how it was made and the file's SHA-256.
//
// Files are written under a temporary name, flushed to disk and renamed, the data file before
// its sidecar: a file under its final name is always whole, and a partition counts as done only
// when its sidecar says so and the file's hash agrees. One partition belongs to one writer at a
// time; distinct partitions may be written from several threads at once.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "PartitionPlan.h"
#include "orvex/Records.h"

namespace orvex {
namespace cli {

// What the sidecar says besides the file's own size and hash.
struct PartitionStats {
  std::string pluginStatus;  // the plug-in's final status, "OK@" or "CODE@message"
  uint64_t dropped = 0;      // outside the partition's span
  uint64_t duplicates = 0;   // exact duplicates removed
  uint64_t repaired = 0;     // recovered by asking again at step boundaries
  uint64_t unrecovered = 0;  // times holding more records than one step can bring
  uint64_t requests = 0;     // service calls of the walk and of the repair
  uint64_t repairRequests = 0;
};

class PartitionFile {
 public:
  PartitionFile(const std::string& outDir, const Partition& partition, bool gzip);

  // True when the sidecar says complete and the file has its size and SHA-256.
  bool isComplete() const;
  // Writes `records` (ascending, de-duplicated, within the span) and then the sidecar. Returns an
  // empty text on success, otherwise what went wrong.
  std::string writeComplete(const std::vector<TopicBody>& records,
                            const PartitionStats& stats) const;
  // A sidecar that records the failure; the data file is left as it was.
  std::string writeFailed(const std::string& reason) const;

  const std::string& dataPath() const { return dataPath_; }

  // The data file's content: the header and one line per record, RFC 4180 quoting.
  static std::string csvText(const std::vector<TopicBody>& records);
  // The SHA-256 of `bytes` in lower-case hex.
  static std::string sha256(const std::string& bytes);

 private:
  std::string sidecar(const std::string& status, const std::vector<TopicBody>* records,
                      const PartitionStats* stats, const std::string& bytes,
                      const std::string& reason) const;

  Partition partition_;
  std::string dir_;
  std::string dataPath_;
  std::string metaPath_;
  bool gzip_;
};

}  // namespace cli
}  // namespace orvex
