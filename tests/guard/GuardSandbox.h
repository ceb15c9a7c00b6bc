#pragma once
// What the guard's end-to-end tests run in: the test process's own private
// mount namespace, a tmpfs of its own to watch and a home of its own, and the
// guard started as a child whose reports are read from its standard error.

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "support/TempTree.h"

namespace korbu::test {

class GuardSandbox {
 public:
  /// Why the guard cannot be tried here (not root, no mount namespace, no
  /// fanotify), or empty. The first call moves the process into a private mount
  /// namespace of its own.
  static std::string Unavailable();

  GuardSandbox();
  ~GuardSandbox();
  GuardSandbox(const GuardSandbox&) = delete;
  GuardSandbox& operator=(const GuardSandbox&) = delete;

  /// The watched tmpfs, or a file on it.
  std::string Watched(const std::string& relative = {}) const;
  /// A folder of the test's own outside the watched tmpfs.
  std::string Path(const std::string& relative) const { return tree_.Path(relative); }
  /// Mounts a new tmpfs at path (made when missing); unmounted with the sandbox.
  void MountTmpfs(const std::string& path);
  /// Bind-mounts from at to; unmounted with the sandbox.
  void BindMount(const std::string& from, const std::string& to);

  /// The environment the guard and korbu-scan run with: the sandbox's home.
  std::vector<std::string> Environment() const;
  /// A shell command line's prefix that sets that environment.
  std::string EnvironmentPrefix() const;

 private:
  TempTree tree_;
  std::vector<std::string> mounts_;
};

class GuardProcess {
 public:
  /// Starts korbu-guard with args (--no-syslog and --no-notify and the sandbox's
  /// status file added) and waits until it says it is ready; the test fails
  /// when it does not.
  GuardProcess(const GuardSandbox& sandbox, std::vector<std::string> args);
  /// Ends the guard if it still runs.
  ~GuardProcess();
  GuardProcess(const GuardProcess&) = delete;
  GuardProcess& operator=(const GuardProcess&) = delete;

  bool Ready() const { return ready_; }
  pid_t Pid() const { return pid_; }
  /// The first line of the guard's reports that holds text, waiting for it at
  /// most within; empty when none came.
  std::string WaitFor(const std::string& text, std::chrono::milliseconds within);
  /// Every report so far.
  std::string Output();
  /// SIGTERM, and the exit status (-1 when it did not exit by itself).
  int Terminate();
  /// SIGKILL, waited for.
  void Kill();
  /// The guard's --status output.
  std::string Status() const;

 private:
  void Reap(int signal);
  pid_t pid_ = -1;
  int exitStatus_ = -1;
  bool ready_ = false;
  std::string statusFile_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<std::string> lines_;
  std::thread reader_;
};

/// Starts path as a program in a child: 0 when it ran and exited 0, its exit
/// status otherwise, or 100 + errno when it could not be started.
int RunProgram(const std::string& path);

/// A child that opens path for reading and exits 0 when it could, else 100 + errno.
pid_t StartOpen(const std::string& path);
/// A child that opens path and reads its first bytes (as Wine reads an image's
/// headers): 0 when it could, else 100 + errno.
pid_t StartRead(const std::string& path);
/// A child that makes the file path (it must not exist) and writes it: 0 when
/// it could, else 100 + errno.
pid_t StartCreate(const std::string& path);
/// A child that starts path as a program: its exit status, or 100 + errno when
/// it could not be started.
pid_t StartProgram(const std::string& path);
/// The child's exit status once it ended, waiting at most within; -1 while it
/// still runs (then it is left running).
int WaitChild(pid_t child, std::chrono::milliseconds within);

}  // namespace korbu::test
