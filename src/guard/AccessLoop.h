#pragma once
// The guard's event loop: it reads the permission events and answers at once,
// on its own thread and together for each read, what needs no verdict (the
// guard's own accesses, anything that is not a regular file, a plain open of a
// file that is no Windows image, a file the verdict cache knows clean), and asks
// the kernel to stop asking about such a file while it stays as it is; the rest
// goes to the workers. In a folder files are being made in, reads ask instead
// of plain opens for a while (NewFileFolders). Files closed after writing are read in batches a moment
// after the first of them, and judged by the workers. An access still waiting at
// its deadline is let go and reported. While accesses come in a burst, idle
// processors are kept from sleeping (IdleSpinners).

#include <atomic>
#include <chrono>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "guard/FanotifyGroup.h"
#include "guard/GuardReport.h"
#include "guard/IdleSpinners.h"
#include "guard/IgnoreMarks.h"
#include "guard/JudgeWorkers.h"
#include "guard/NewFileFolders.h"
#include "guard/PendingAccesses.h"
#include "guard/ResponseBatch.h"
#include "scan/ScanContext.h"

namespace korbu::guard {

class AccessLoop {
 public:
  AccessLoop(FanotifyGroup& group, const ScanContext& context, GuardReport& report,
             std::chrono::milliseconds timeout, int workers, int spinners = 0);
  ~AccessLoop();

  /// How long files closed after writing wait to be read with those closed after
  /// them: a burst of writes wakes the guard a few times a second, not per file.
  static constexpr std::chrono::milliseconds kWrittenWindow{20};
  /// How long a judgement nobody waits for may wait for an idle processor
  /// before it is raised to a low priority of the normal kind.
  static constexpr std::chrono::milliseconds kStarvedAfter{200};

  /// Runs until stopFd is readable; a POLLPRI on watchFd (when not -1) calls
  /// onWatch. Every access still waiting is let go before it returns.
  void Run(int stopFd, int watchFd, const std::function<void()>& onWatch);

  /// Judges the file at path in the background (a new volume's files).
  void JudgeNamed(std::string path);

  /// Judgements queued or under way.
  std::size_t Busy() const { return workers_->Busy(); }

 private:
  void ReadAccesses();
  void AnswerAccess(int eventFd, std::uint64_t mask, int pid, ResponseBatch& batch);
  void Ignore(platform::OpenedFile& file, const IgnoreMarks::Before& before, std::uint64_t mask);
  /// Reads the next batch of written files for the workers; true when more wait.
  bool ReadWritten();
  void Judge(Judgement& judgement);
  void LetExpiredGo(bool everything);
  /// Lets every access that arrives within wait go (the guard is stopping).
  void AllowEverything(std::chrono::milliseconds wait);

  FanotifyGroup& group_;
  const ScanContext& context_;
  GuardReport& report_;
  std::chrono::milliseconds timeout_;
  PendingAccesses pending_;
  IgnoreMarks marks_;
  NewFileFolders newFileFolders_;
  std::optional<PendingAccesses::Clock::time_point> writtenDue_;
  const int ownPid_;
  std::unique_ptr<JudgeWorkers> workers_;
  IdleSpinners spinners_;
};

/// The path an open descriptor names now ("/proc/self/fd/N"), or an empty text.
std::string PathOfDescriptor(int fd);

/// True when a plain open of this file cannot be Wine loading a Windows
/// program: it does not begin with "MZ".
bool CannotBeWindowsImage(int fd);

}  // namespace korbu::guard
