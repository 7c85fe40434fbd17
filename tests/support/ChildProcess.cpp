#include "ChildProcess.h"

#include <Poco/Exception.h>
#include <signal.h>

#include <algorithm>

namespace orvex {
namespace test {

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  std::string& error) {
  Poco::Pipe in, out, err;
  try {
    Poco::ProcessHandle handle = Poco::Process::launch(program, args, &in, &out, &err);
    in.close();
    return std::unique_ptr<ChildProcess>(new ChildProcess(handle, out, err));
  } catch (const Poco::Exception& e) {
    error = "cannot start " + program + ": " + e.displayText();
    return nullptr;
  }
}

ChildProcess::ChildProcess(const Poco::ProcessHandle& handle, Poco::Pipe out, Poco::Pipe err)
    : handle_(handle) {
  outReader_ = std::thread([this, out] { readInto(out, out_, outClosed_); });
  errReader_ = std::thread([this, err] { readInto(err, err_, errClosed_); });
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    signal(SIGKILL);
    wait(std::chrono::seconds(10));
  }
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void ChildProcess::readInto(Poco::Pipe pipe, std::string& sink, bool& closed) {
  char buf[4096];
  try {
    for (int n; (n = pipe.readBytes(buf, sizeof buf)) > 0;) {
      std::lock_guard<std::mutex> lock(mutex_);
      sink.append(buf, static_cast<size_t>(n));
      changed_.notify_all();
    }
  } catch (const Poco::Exception&) {
    // A broken pipe ends the output like its end does.
  }
  pipe.close();
  std::lock_guard<std::mutex> lock(mutex_);
  closed = true;
  changed_.notify_all();
}

bool ChildProcess::waitForStdoutLines(size_t lines, std::chrono::milliseconds timeout) {
  auto enough = [&] {
    return static_cast<size_t>(std::count(out_.begin(), out_.end(), '\n')) >= lines;
  };
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return enough() || outClosed_; }) && enough();
}

void ChildProcess::signal(int signal) { ::kill(handle_.id(), signal); }

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (!reaped_) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    int raw;
    while ((raw = handle_.tryWait()) == -1 && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    if (raw == -1) {
      signal(SIGKILL);
      handle_.wait();
    }
    // Poco reports an ending signal as 256 plus its number.
    status_ = raw >= 256 ? raw - 128 : raw;
    reaped_ = true;
  }
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
  return status_;
}

std::string ChildProcess::out() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return out_;
}

std::string ChildProcess::err() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return err_;
}

int runProgram(const std::string& program, const std::vector<std::string>& args, std::string& out,
               std::string& err) {
  std::string error;
  std::unique_ptr<ChildProcess> child = ChildProcess::start(program, args, error);
  if (!child) {
    err = error;
    return -1;
  }
  const int status = child->wait();
  out = child->out();
  err = child->err();
  return status;
}

}  // namespace test
}  // namespace orvex
