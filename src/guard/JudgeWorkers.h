#pragma once
// The guard's judging threads, one per core unless told. Accesses that wait
// (an exec, a Windows image opened) go before files already written (the newest
// first), and those before the files of a volume scanned in the background.
// Accesses are judged at the guard's own priority, the rest only where no other
// program wants the processor, raised by RaiseStarved when that takes too long.

#include <sys/types.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/OpenedFile.h"

namespace korbu::guard {

struct Judgement {
  enum class Kind {
    Access,   // a permission event: file is the event's, eventFd its number
    Written,  // a file closed after writing, by its event's descriptor
    Named,    // a file to open by its name: written ones past the queue's bound, a volume's
  };
  Kind kind = Kind::Named;
  platform::OpenedFile file;
  int eventFd = -1;
  std::string name;
  int pid = 0;  // the process that made the access
};

class JudgeWorkers {
 public:
  using Handler = std::function<void(Judgement&)>;

  /// Written files held open at most; beyond it they wait by name, so that a
  /// burst of writes cannot use up the guard's descriptors.
  static constexpr std::size_t kHeldWrittenLimit = 1024;

  JudgeWorkers(int count, Handler handler);
  /// Stops: the threads end after the judgement each is making; the rest is dropped.
  ~JudgeWorkers();
  JudgeWorkers(const JudgeWorkers&) = delete;
  JudgeWorkers& operator=(const JudgeWorkers&) = delete;

  void Push(Judgement judgement);
  /// Several at once (a batch of written files): one wake-up for all.
  void PushAll(std::vector<Judgement> judgements);
  /// Takes no more judgements: each thread ends after the one it is making.
  void BeginStop();
  /// Judgements being made now.
  std::size_t Running() const;
  /// BeginStop, and waits for the threads to end.
  void Stop();

  /// Judgements queued or being made.
  std::size_t Busy() const;

  using Clock = std::chrono::steady_clock;
  /// True while a judgement nobody waits for is being made: RaiseStarved is
  /// then to be called now and then.
  bool JudgingInBackground() const;
  /// Each such judgement begun at least after before now is raised to a low
  /// priority of the normal kind (the guard's nice + 10): on a busy machine it
  /// would never end otherwise.
  void RaiseStarved(Clock::time_point now, Clock::duration after);

  /// The nice of judgements nobody waits for once raised, above the guard's own.
  static constexpr int kBackgroundNice = 10;

  /// The number of threads for count (0: one per core).
  static int ThreadsFor(int count);

 private:
  void Run(std::size_t index);
  void Queue(Judgement judgement);  // with mutex_ held
  Handler handler_;
  int baseNice_ = 0;
  // What each thread does now (with mutex_ held). Only the thread itself puts
  // itself in the idle class and out of it, with mutex_ free; RaiseStarved
  // raises it with mutex_ held.
  struct Worker {
    pid_t tid = 0;
    bool background = false;  // a judgement nobody waits for
    bool raised = false;      // ...raised by RaiseStarved
    Clock::time_point since;
  };
  std::vector<Worker> state_;
  std::atomic<int> unraised_{0};  // background judgements not raised
  mutable std::mutex mutex_;
  std::condition_variable wake_;
  std::deque<Judgement> access_;
  std::deque<Judgement> written_;
  std::deque<Judgement> named_;
  std::size_t running_ = 0;
  bool stopping_ = false;
  std::vector<std::thread> threads_;
};

}  // namespace korbu::guard
