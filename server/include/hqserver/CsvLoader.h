// Loads records from CSV files into a DataStore.
//
// One record per line, six columns:
//   target,key,time,mtm,value,data
// `target`: the target code (not empty, no comma); `key`: the topic key (not empty); `time` and
// `mtm`: record time and modification time, signed 64-bit decimal nanoseconds; `value`: a decimal
// floating-point number; `data`: the rest of the line as it stands (it may hold commas or be
// empty). A trailing "\r" is dropped. Empty lines and lines starting with "#" are skipped, and so
// is a first line that starts with "target,key,". Any other malformed line refuses the whole file.
//
// A download directory of orvex_cli is read as it is: DIR/KEY/TARGET/YYYY-MM-DD.csv or .csv.gz
// (gzip), each starting with the header "time,value,data"; key and target come from the path,
// the data is an RFC 4180 field, and the modification time is the record time.
//
// Stateless; safe to call from several threads on different stores.
#pragma once

#include <istream>
#include <memory>
#include <string>

#include "hqserver/DataStore.h"

namespace orvex {
namespace hqserver {

class CsvLoader {
 public:
  // Reads `in` (named `name` in messages) into `store`. On failure returns false and sets `error`
  // to "<name>:<line>: <what is wrong>"; records of earlier lines may already be in `store`.
  static bool load(std::istream& in, const std::string& name, DataStore& store, std::string& error);
  // Reads a download file (header "time,value,data") of `key` and `target` into `store`; fails
  // as load() does.
  static bool loadDownload(std::istream& in, const std::string& name, const std::string& key,
                           const std::string& target, DataStore& store, std::string& error);
  // Loads one file, or every "*.csv" and "*.csv.gz" file under a directory (its subdirectories
  // included) in path order, and seals the store.
  // Returns nullptr and sets `error` when a file cannot be read or is malformed.
  static std::shared_ptr<const DataStore> loadPath(const std::string& path, std::string& error);
};

}  // namespace hqserver
}  // namespace orvex
