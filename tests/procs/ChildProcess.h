#pragma once
// A child process started by a test and always reaped: killed when the test
// leaves it running, so no test leaves a process or a zombie behind.

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <vector>

namespace korbu::test {

class ChildProcess {
 public:
  /// Starts program with the arguments (argv[0] is the program path) and the
  /// environment of the test plus the NAME=value entries given. Started() tells.
  ChildProcess(const std::string& program, const std::vector<std::string>& arguments,
               const std::vector<std::string>& environment = {});
  ChildProcess(ChildProcess&& other) noexcept;
  ChildProcess(const ChildProcess&) = delete;
  ChildProcess& operator=(const ChildProcess&) = delete;
  ChildProcess& operator=(ChildProcess&&) = delete;
  ~ChildProcess();

  bool Started() const { return pid_ > 0; }
  std::uint32_t Id() const { return static_cast<std::uint32_t>(pid_); }

  /// Waits until the process has ended, at most limit. The signal that ended it,
  /// 0 when it exited by itself, -1 when it still runs at the limit.
  int WaitForEnd(std::chrono::milliseconds limit);

  /// True while the process has not ended (a brief look, no waiting).
  bool Running() { return WaitForEnd(std::chrono::milliseconds(0)) == -1; }

  /// The exit status once the process has exited by itself, -1 before or after a signal.
  int ExitCode() const { return exitCode_; }

 private:
  pid_t pid_ = -1;
  int endSignal_ = -1;
  int exitCode_ = -1;
};

}  // namespace korbu::test
