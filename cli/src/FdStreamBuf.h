// An output stream buffer on a file descriptor that remembers why a write failed.
//
// std::cout hides the cause of a failed write (ENOSPC, EPIPE, EBADF); this buffer keeps the
// errno of the first failure so that the program can say what went wrong. After a failure every
// later write fails too. Not thread-safe: callers serialise writes and flushes.
#pragma once

#include <streambuf>
#include <string>
#include <vector>

namespace orvex {
namespace cli {

class FdStreamBuf : public std::streambuf {
 public:
  // Writes to `fd`, which must stay open while the buffer is used; the buffer never closes it.
  explicit FdStreamBuf(int fd);
  ~FdStreamBuf() override;

  FdStreamBuf(const FdStreamBuf&) = delete;
  FdStreamBuf& operator=(const FdStreamBuf&) = delete;

  // The errno of the first failed write; 0 while every write succeeded.
  int error() const { return error_; }
  // "No space left on device" for error(); empty while there is none.
  std::string errorText() const;

 protected:
  int_type overflow(int_type ch) override;
  int sync() override;
  std::streamsize xsputn(const char* data, std::streamsize size) override;

 private:
  bool writeAll(const char* data, size_t size);
  bool drain();

  int fd_;
  int error_ = 0;
  std::vector<char> buffer_;
};

// "cannot write the output: No space left on device", or "...: write error" when `buffer` is null
// or knows no cause.
std::string writeFailureText(const FdStreamBuf* buffer);

}  // namespace cli
}  // namespace orvex
