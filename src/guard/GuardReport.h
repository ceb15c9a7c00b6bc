#pragma once
// Where the guard tells what it did: a line on standard error, the system log,
// the recorded actions (korbu-scan --history), a desktop notification and the
// status. Callable from every thread.

#include <chrono>
#include <map>
#include <mutex>
#include <string>

#include "guard/GuardStatus.h"
#include "platform/FolderHandle.h"

namespace korbu::guard {

struct ReportSettings {
  bool syslog = true;
  bool notify = true;
  bool quarantine = false;
};

class GuardReport {
 public:
  GuardReport(ReportSettings settings, GuardStatus& status);
  ~GuardReport();
  GuardReport(const GuardReport&) = delete;
  GuardReport& operator=(const GuardReport&) = delete;

  /// A plain line: start, stop, what is watched, a failure of the guard itself.
  void Info(const std::string& text);
  void Watching(const std::string& what);
  /// An access to a detected program was refused; pid: the process refused.
  void Refused(const std::string& path, const std::string& virus, int pid);
  /// A detected file written (how: "written", "on a new volume"); with
  /// quarantine, the very file judged (identity) goes there.
  void Found(const std::string& path, const std::string& virus, const std::string& how,
             const platform::FileStatus* identity);
  /// An access let go without a whole verdict, and why.
  void LetGo(const std::string& path, const std::string& why);

 private:
  void Line(int priority, const std::string& text);
  /// True when the same thing was told within the last minute: counted and
  /// logged again, but neither recorded nor notified, so that a program started
  /// in a loop cannot flood the records or the desktop.
  bool Repeated(const std::string& what);
  /// Records a note of the file once a minute: what the report line says of it.
  std::string NoteOnce(const char* action, const std::string& path, const std::string& virus, bool& repeated);
  ReportSettings settings_;
  GuardStatus& status_;
  std::mutex mutex_;
  std::mutex quarantinedMutex_;
  std::map<std::string, std::string> quarantined_;  // path: the action that took it
  std::mutex repeatMutex_;
  std::map<std::string, std::chrono::steady_clock::time_point> lastTold_;
};

}  // namespace korbu::guard
