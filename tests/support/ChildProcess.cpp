#include "ChildProcess.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

extern char** environ;

namespace orvex {
namespace test {

std::unique_ptr<ChildProcess> ChildProcess::start(const std::string& program,
                                                  const std::vector<std::string>& args,
                                                  std::string& error) {
  int outPipe[2];
  int errPipe[2];
  if (::pipe2(outPipe, O_CLOEXEC) != 0 || ::pipe2(errPipe, O_CLOEXEC) != 0) {
    error = std::string("pipe: ") + std::strerror(errno);
    return nullptr;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
  posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);
  // The child starts with default signal handling, whatever the test runner set up.
  posix_spawnattr_t attr;
  posix_spawnattr_init(&attr);
  sigset_t defaults;
  sigemptyset(&defaults);
  sigaddset(&defaults, SIGINT);
  sigaddset(&defaults, SIGPIPE);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigdefault(&attr, &defaults);
  posix_spawnattr_setsigmask(&attr, &none);
  posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETSIGDEF | POSIX_SPAWN_SETSIGMASK);

  std::vector<char*> argv;
  argv.push_back(const_cast<char*>(program.c_str()));
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  pid_t pid = 0;
  const int rc = ::posix_spawnp(&pid, program.c_str(), &actions, &attr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attr);
  ::close(outPipe[1]);
  ::close(errPipe[1]);
  if (rc != 0) {
    ::close(outPipe[0]);
    ::close(errPipe[0]);
    error = "cannot start " + program + ": " + std::strerror(rc);
    return nullptr;
  }
  return std::unique_ptr<ChildProcess>(new ChildProcess(pid, outPipe[0], errPipe[0]));
}

ChildProcess::ChildProcess(pid_t pid, int outFd, int errFd) : pid_(pid) {
  outReader_ = std::thread([this, outFd] { readInto(outFd, out_, outClosed_); });
  errReader_ = std::thread([this, errFd] { readInto(errFd, err_, errClosed_); });
}

ChildProcess::~ChildProcess() {
  if (!reaped_) {
    ::kill(pid_, SIGKILL);
    wait(std::chrono::seconds(10));
  }
  if (outReader_.joinable()) outReader_.join();
  if (errReader_.joinable()) errReader_.join();
}

void ChildProcess::readInto(int fd, std::string& sink, bool& closed) {
  char buf[4096];
  for (;;) {
    const ssize_t n = ::read(fd, buf, sizeof buf);
    if (n < 0 && errno == EINTR) continue;
    std::lock_guard<std::mutex> lock(mutex_);
    if (n <= 0) {
      closed = true;
      changed_.notify_all();
      break;
    }
    sink.append(buf, static_cast<size_t>(n));
    changed_.notify_all();
  }
  ::close(fd);
}

bool ChildProcess::waitForStdoutLines(size_t lines, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] {
    return static_cast<size_t>(std::count(out_.begin(), out_.end(), '\n')) >= lines || outClosed_;
  }) && static_cast<size_t>(std::count(out_.begin(), out_.end(), '\n')) >= lines;
}

void ChildProcess::signal(int signal) { ::kill(pid_, signal); }

int ChildProcess::wait(std::chrono::milliseconds timeout) {
  if (reaped_) return status_;
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  int raw = 0;
  for (;;) {
    const pid_t done = ::waitpid(pid_, &raw, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() >= deadline) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &raw, 0);
      reaped_ = true;
      status_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (!reaped_) {
    reaped_ = true;
    status_ = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
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
