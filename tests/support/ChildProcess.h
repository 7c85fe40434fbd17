// A program run as a child process with its standard output and error captured, for tests that
// check a program's output, exit status and signal handling.
//
// Output is collected by two reader threads; the accessors may be called from any thread while
// the child runs. Not copyable. The destructor kills a child that is still running.
#pragma once

#include <Poco/Pipe.h>
#include <Poco/Process.h>

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace orvex {
namespace test {

class ChildProcess {
 public:
  // Starts `program` (looked up in PATH when it has no slash) with `args` (without the program
  // name) and an empty standard input.
  // Returns null and sets `error` when the program cannot be started.
  static std::unique_ptr<ChildProcess> start(const std::string& program,
                                             const std::vector<std::string>& args,
                                             std::string& error);
  ~ChildProcess();

  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;

  // Waits until standard output holds at least `lines` complete lines; false on time-out or when
  // the output ends first.
  bool waitForStdoutLines(size_t lines, std::chrono::milliseconds timeout);
  // Sends `signal` to the child.
  void signal(int signal);
  // Waits for the child to end and for its output to be read. Returns the exit status, or 128
  // plus the signal number when a signal ended it; -1 when it had to be killed after `timeout`.
  int wait(std::chrono::milliseconds timeout = std::chrono::seconds(60));

  std::string out() const;
  std::string err() const;

 private:
  ChildProcess(const Poco::ProcessHandle& handle, Poco::Pipe out, Poco::Pipe err);
  void readInto(Poco::Pipe pipe, std::string& sink, bool& closed);

  Poco::ProcessHandle handle_;
  bool reaped_ = false;
  int status_ = -1;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::string out_;
  std::string err_;
  bool outClosed_ = false;
  bool errClosed_ = false;
  std::thread outReader_;
  std::thread errReader_;
};

// Runs `program` with `args` to its end. Returns the exit status (see ChildProcess::wait) and
// fills `out` and `err`; -1 with `err` set when it cannot be started.
int runProgram(const std::string& program, const std::vector<std::string>& args, std::string& out,
               std::string& err);

}  // namespace test
}  // namespace orvex
