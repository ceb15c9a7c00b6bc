#pragma once
// The guard's event loop: it reads the fanotify group's events and answers at
// once what needs no verdict (the guard's own accesses, anything that is not a
// regular file, a plain open of a file that is no Windows image, a file the
// verdict cache knows clean); the rest goes to the workers. An access still
// waiting at its deadline is let go and reported.

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <string>

#include "guard/FanotifyGroup.h"
#include "guard/GuardReport.h"
#include "guard/JudgeWorkers.h"
#include "guard/PendingAccesses.h"
#include "scan/ScanContext.h"

namespace korbu::guard {

class AccessLoop {
 public:
  AccessLoop(FanotifyGroup& group, const ScanContext& context, GuardReport& report,
             std::chrono::milliseconds timeout, int workers);
  ~AccessLoop();

  /// Runs until stopFd is readable; a POLLPRI on watchFd (when not -1) calls
  /// onWatch. Every access still waiting is let go before it returns.
  void Run(int stopFd, int watchFd, const std::function<void()>& onWatch);

  /// Judges the file at path in the background (a new volume's files).
  void JudgeNamed(std::string path);

  /// Judgements queued or under way.
  std::size_t Busy() const { return workers_->Busy(); }

 private:
  void ReadEvents();
  void Answer(int eventFd, std::uint64_t mask, int pid);
  void Judge(Judgement& judgement);
  void LetExpiredGo(bool everything);

  FanotifyGroup& group_;
  const ScanContext& context_;
  GuardReport& report_;
  std::chrono::milliseconds timeout_;
  PendingAccesses pending_;
  const int ownPid_;
  std::unique_ptr<JudgeWorkers> workers_;
};

/// The path an open descriptor names now ("/proc/self/fd/N"), or an empty text.
std::string PathOfDescriptor(int fd);

/// True when a plain open of this file cannot be Wine loading a Windows
/// program: it does not begin with "MZ".
bool CannotBeWindowsImage(int fd);

}  // namespace korbu::guard
