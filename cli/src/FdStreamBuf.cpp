#include "FdStreamBuf.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace orvex {
namespace cli {
namespace {

constexpr size_t kBufferSize = 64 * 1024;

}  // namespace

FdStreamBuf::FdStreamBuf(int fd) : fd_(fd), buffer_(kBufferSize) {
  setp(buffer_.data(), buffer_.data() + buffer_.size());
}

FdStreamBuf::~FdStreamBuf() { drain(); }

std::string FdStreamBuf::errorText() const { return error_ == 0 ? "" : std::strerror(error_); }

std::string writeFailureText(const FdStreamBuf* buffer) {
  const std::string why = buffer != nullptr ? buffer->errorText() : "";
  return "cannot write the output: " + (why.empty() ? std::string("write error") : why);
}

FdStreamBuf::int_type FdStreamBuf::overflow(int_type ch) {
  if (!drain()) return traits_type::eof();
  if (!traits_type::eq_int_type(ch, traits_type::eof())) {
    *pptr() = traits_type::to_char_type(ch);
    pbump(1);
  }
  return traits_type::not_eof(ch);
}

int FdStreamBuf::sync() { return drain() ? 0 : -1; }

std::streamsize FdStreamBuf::xsputn(const char* data, std::streamsize size) {
  const std::streamsize room = epptr() - pptr();
  if (size <= room) {
    std::memcpy(pptr(), data, static_cast<size_t>(size));
    pbump(static_cast<int>(size));
    return size;
  }
  if (!drain() || !writeAll(data, static_cast<size_t>(size))) return 0;
  return size;
}

bool FdStreamBuf::drain() {
  const size_t pending = static_cast<size_t>(pptr() - pbase());
  const bool ok = pending == 0 || writeAll(pbase(), pending);
  setp(buffer_.data(), buffer_.data() + buffer_.size());
  return ok;
}

bool FdStreamBuf::writeAll(const char* data, size_t size) {
  if (error_ != 0) return false;
  while (size > 0) {
    const ssize_t written = ::write(fd_, data, size);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      error_ = written < 0 ? errno : EIO;
      return false;
    }
    data += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace cli
}  // namespace orvex
