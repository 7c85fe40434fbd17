#include "PartitionFile.h"

#include <Poco/DeflatingStream.h>
#include <Poco/DigestEngine.h>
#include <Poco/SHA2Engine.h>
#include <fcntl.h>
#include <rapidjson/document.h>
#include <rapidjson/prettywriter.h>
#include <rapidjson/stringbuffer.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>

#include "RecordWriter.h"

namespace orvex {
namespace cli {
namespace {

// The fastest level: compressing at the default level costs more time than fetching the data
// takes from a nearby service, for files about 30% smaller.
constexpr int kGzipLevel = 1;

std::string readFile(const std::string& path, bool& ok) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  ok = static_cast<bool>(in) || in.eof();
  return text.str();
}

std::string errnoText(const std::string& what, const std::string& path) {
  return what + " " + path + ": " + std::strerror(errno);
}

// Opens `temp` for writing, empty and locked; -1 with `error` set when it cannot. The lock keeps
// a second download writing the same partition at the same time (an overlapping cron run,
// overlapping shards) from mixing its bytes in: that one fails the partition instead. A file left
// by a killed run holds no lock and is simply written over.
int openLocked(const std::string& temp, std::string& error) {
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) {
    error = errnoText("cannot create", temp);
    return -1;
  }
  // A file system without locks is written as before, unlocked.
  const bool locked = ::flock(fd, LOCK_EX | LOCK_NB) == 0;
  const bool busy = !locked && errno == EWOULDBLOCK;
  struct stat held, named;
  if (busy || (locked && (::fstat(fd, &held) != 0 || ::stat(temp.c_str(), &named) != 0 ||
                          held.st_ino != named.st_ino || held.st_dev != named.st_dev))) {
    // Locked by another writer, or locked only after that writer renamed it into place.
    error = "another download is writing " + temp;
  } else if (::ftruncate(fd, 0) != 0) {
    error = errnoText("cannot truncate", temp);
  } else {
    return fd;
  }
  ::close(fd);
  return -1;
}

// Writes `bytes` to `path` through a temporary file that is flushed to disk and renamed, then
// flushes the directory so the rename survives a crash too.
std::string writeAtomically(const std::string& dir, const std::string& path,
                            const std::string& bytes) {
  const std::string temp = path + ".part";
  std::string error;
  const int fd = openLocked(temp, error);
  if (fd < 0) return error;
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd, bytes.data() + done, bytes.size() - done);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      const std::string error = errnoText("cannot write", temp);
      ::close(fd);
      return error;
    }
    done += static_cast<size_t>(n);
  }
  if (::fsync(fd) != 0) {
    const std::string error = errnoText("cannot flush", temp);
    ::close(fd);
    return error;
  }
  // Renamed while still locked, so that no other writer opens this file in between.
  if (::rename(temp.c_str(), path.c_str()) != 0) {
    const std::string error = errnoText("cannot rename", temp);
    ::close(fd);
    return error;
  }
  ::close(fd);
  const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dirFd >= 0) {
    ::fsync(dirFd);
    ::close(dirFd);
  }
  return "";
}

std::string gzipped(const std::string& bytes) {
  std::ostringstream out;
  Poco::DeflatingOutputStream deflater(out, Poco::DeflatingStreamBuf::STREAM_GZIP, kGzipLevel);
  deflater.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  deflater.close();
  return out.str();
}

}  // namespace

PartitionFile::PartitionFile(const std::string& outDir, const Partition& partition, bool gzip)
    : partition_(partition),
      dir_(outDir + "/" + partition.key + "/" + partition.target),
      dataPath_(dir_ + "/" + partition.day + (gzip ? ".csv.gz" : ".csv")),
      metaPath_(dir_ + "/" + partition.day + ".meta.json"),
      gzip_(gzip) {}

bool PartitionFile::isComplete() const {
  bool ok = false;
  const std::string meta = readFile(metaPath_, ok);
  rapidjson::Document doc;
  if (!ok || doc.Parse(meta.c_str()).HasParseError() || !doc.IsObject()) return false;
  const auto text = [&doc](const char* name) {
    const auto it = doc.FindMember(name);
    return it != doc.MemberEnd() && it->value.IsString() ? std::string(it->value.GetString())
                                                         : std::string();
  };
  const auto bytes = doc.FindMember("bytes");
  if (text("status") != "complete" || bytes == doc.MemberEnd() || !bytes->value.IsUint64()) {
    return false;
  }
  const std::string data = readFile(dataPath_, ok);
  return ok && data.size() == bytes->value.GetUint64() && sha256(data) == text("sha256");
}

std::string PartitionFile::writeComplete(const std::vector<TopicBody>& records,
                                         const PartitionStats& stats) const {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) return "cannot create " + dir_ + ": " + ec.message();
  const std::string text = csvText(records);
  const std::string bytes = gzip_ ? gzipped(text) : text;
  std::string error = writeAtomically(dir_, dataPath_, bytes);
  if (error.empty()) {
    error = writeAtomically(dir_, metaPath_, sidecar("complete", &records, &stats, bytes, ""));
  }
  return error;
}

std::string PartitionFile::writeFailed(const std::string& reason) const {
  std::error_code ec;
  std::filesystem::create_directories(dir_, ec);
  if (ec) return "cannot create " + dir_ + ": " + ec.message();
  return writeAtomically(dir_, metaPath_, sidecar("failed", nullptr, nullptr, "", reason));
}

std::string PartitionFile::sidecar(const std::string& status, const std::vector<TopicBody>* records,
                                   const PartitionStats* stats, const std::string& bytes,
                                   const std::string& reason) const {
  rapidjson::StringBuffer buffer;
  rapidjson::PrettyWriter<rapidjson::StringBuffer> w(buffer);
  w.StartObject();
  w.Key("status");
  w.String(status.c_str());
  w.Key("key");
  w.String(partition_.key.c_str());
  w.Key("target");
  w.String(partition_.target.c_str());
  w.Key("day");
  w.String(partition_.day.c_str());
  w.Key("begin");
  w.Int64(partition_.begin);
  w.Key("end");
  w.Int64(partition_.end);
  if (records != nullptr && stats != nullptr) {
    w.Key("records");
    w.Uint64(records->size());
    w.Key("first");
    records->empty() ? w.Null() : w.Int64(records->front().time);
    w.Key("last");
    records->empty() ? w.Null() : w.Int64(records->back().time);
    w.Key("bytes");
    w.Uint64(bytes.size());
    w.Key("sha256");
    w.String(sha256(bytes).c_str());
    w.Key("pluginStatus");
    w.String(stats->pluginStatus.c_str());
    const std::pair<const char*, uint64_t> counts[] = {
        {"dropped", stats->dropped},   {"duplicates", stats->duplicates},
        {"repaired", stats->repaired}, {"unrecovered", stats->unrecovered},
        {"requests", stats->requests}, {"repairRequests", stats->repairRequests}};
    for (const auto& [name, count] : counts) {
      w.Key(name);
      w.Uint64(count);
    }
  } else {
    w.Key("reason");
    w.String(reason.c_str());
  }
  w.EndObject();
  return std::string(buffer.GetString()) + "\n";
}

std::string PartitionFile::csvText(const std::vector<TopicBody>& records) {
  std::string text = "time,value,data\n";
  text.reserve(records.size() * 40);
  char number[24];
  for (const TopicBody& r : records) {
    text.append(number, std::to_chars(number, number + sizeof number, r.time).ptr);
    text += ',';
    text += formatValue(r.value);
    text += ',';
    text += csvField(r.data);
    text += '\n';
  }
  return text;
}

std::string PartitionFile::sha256(const std::string& bytes) {
  Poco::SHA2Engine engine(Poco::SHA2Engine::SHA_256);
  engine.update(bytes.data(), static_cast<unsigned>(bytes.size()));
  return Poco::DigestEngine::digestToHex(engine.digest());
}

}  // namespace cli
}  // namespace orvex
