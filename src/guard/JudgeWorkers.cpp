#include "guard/JudgeWorkers.h"

#include <sched.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "guard/ThreadScheduling.h"

namespace korbu::guard {

int JudgeWorkers::ThreadsFor(int count) {
  if (count > 0) return count;
  return static_cast<int>(std::max(1U, std::thread::hardware_concurrency()));
}

JudgeWorkers::JudgeWorkers(int count, Handler handler) : handler_(std::move(handler)) {
  // The guard's own priority (a unit may raise it) is that of the accesses waiting.
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, 0);
  baseNice_ = errno == 0 ? base : 0;
  const auto threads = static_cast<std::size_t>(ThreadsFor(count));
  state_.resize(threads);
  for (std::size_t i = 0; i < threads; ++i) threads_.emplace_back([this, i] { Run(i); });
}

JudgeWorkers::~JudgeWorkers() { Stop(); }

void JudgeWorkers::BeginStop() {
  {
    const std::lock_guard lock(mutex_);
    stopping_ = true;
  }
  wake_.notify_all();
}

std::size_t JudgeWorkers::Running() const {
  const std::lock_guard lock(mutex_);
  return running_;
}

void JudgeWorkers::Stop() {
  BeginStop();
  for (std::thread& thread : threads_) {
    if (thread.joinable()) thread.join();
  }
  threads_.clear();
}

void JudgeWorkers::Push(Judgement judgement) {
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    Queue(std::move(judgement));
  }
  wake_.notify_one();
}

void JudgeWorkers::PushAll(std::vector<Judgement> judgements) {
  if (judgements.empty()) return;
  {
    const std::lock_guard lock(mutex_);
    if (stopping_) return;
    for (Judgement& judgement : judgements) Queue(std::move(judgement));
  }
  if (judgements.size() == 1) {
    wake_.notify_one();
  } else {
    wake_.notify_all();
  }
}

void JudgeWorkers::Queue(Judgement judgement) {
  switch (judgement.kind) {
    case Judgement::Kind::Access: access_.push_back(std::move(judgement)); break;
    case Judgement::Kind::Written:
      // Newest first: a file just closed is found at once even behind a burst of
      // writes; the oldest held one waits by name once the bound is reached.
      if (written_.size() >= kHeldWrittenLimit) {
        Judgement oldest = std::move(written_.back());
        written_.pop_back();
        oldest.file = platform::OpenedFile();
        oldest.eventFd = -1;
        oldest.kind = Judgement::Kind::Named;
        named_.push_front(std::move(oldest));
      }
      written_.push_front(std::move(judgement));
      break;
    case Judgement::Kind::Named: named_.push_back(std::move(judgement)); break;
  }
}

std::size_t JudgeWorkers::Busy() const {
  const std::lock_guard lock(mutex_);
  return access_.size() + written_.size() + named_.size() + running_;
}

bool JudgeWorkers::JudgingInBackground() const { return unraised_.load(std::memory_order_relaxed) > 0; }

void JudgeWorkers::RaiseStarved(Clock::time_point now, Clock::duration after) {
  const std::lock_guard lock(mutex_);
  for (Worker& worker : state_) {
    // Only once the thread put itself in the idle class, which it may not have
    // done yet: a raise before that would be left behind.
    if (!worker.background || worker.raised || now - worker.since < after ||
        ::sched_getscheduler(worker.tid) != SCHED_IDLE) {
      continue;
    }
    ScheduleNormal(worker.tid, baseNice_ + kBackgroundNice);
    worker.raised = true;
    unraised_.fetch_sub(1, std::memory_order_relaxed);
  }
}

void JudgeWorkers::Run(std::size_t index) {
  std::unique_lock lock(mutex_);
  Worker& self = state_[index];
  self.tid = ::gettid();
  while (true) {
    wake_.wait(lock, [&] { return stopping_ || !access_.empty() || !written_.empty() || !named_.empty(); });
    if (stopping_) return;
    std::deque<Judgement>& from = !access_.empty() ? access_ : !written_.empty() ? written_ : named_;
    Judgement judgement = std::move(from.front());
    from.pop_front();
    const bool background = judgement.kind != Judgement::Kind::Access;
    self.background = background;
    self.raised = false;
    self.since = Clock::now();
    if (background) unraised_.fetch_add(1, std::memory_order_relaxed);
    ++running_;
    lock.unlock();
    // The class changes only while the lock is free: a thread of the idle class
    // holding it would hold up the event thread whenever other programs keep
    // the processors busy.
    if (background) ScheduleIdle(self.tid);
    handler_(judgement);
    judgement = Judgement();
    if (background) ScheduleNormal(self.tid, baseNice_);
    lock.lock();
    if (self.raised) {
      ScheduleNormal(self.tid, baseNice_);  // raised while it ended
    } else if (background) {
      unraised_.fetch_sub(1, std::memory_order_relaxed);
    }
    self.background = self.raised = false;
    --running_;
  }
}

}  // namespace korbu::guard
