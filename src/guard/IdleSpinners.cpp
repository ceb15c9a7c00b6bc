#include "guard/IdleSpinners.h"

#include <pthread.h>
#include <sched.h>
#include <unistd.h>

#include "guard/ThreadScheduling.h"

namespace korbu::guard {
namespace {

std::vector<int> AllowedProcessors() {
  std::vector<int> processors;
  cpu_set_t set;
  CPU_ZERO(&set);
  if (::sched_getaffinity(0, sizeof set, &set) != 0) return processors;
  for (int cpu = 0; cpu < CPU_SETSIZE; ++cpu) {
    if (CPU_ISSET(cpu, &set)) processors.push_back(cpu);
  }
  return processors;
}

}  // namespace

int IdleSpinners::ThreadsForProcessors() {
  const auto allowed = static_cast<int>(AllowedProcessors().size());
  return allowed < kMost ? allowed : kMost;
}

IdleSpinners::IdleSpinners(int count) : tids_(static_cast<std::size_t>(count > 0 ? count : 0)) {
  const std::vector<int> processors = AllowedProcessors();
  for (std::size_t i = 0; i < tids_.size(); ++i) {
    const int processor = processors.empty() ? -1 : processors[i % processors.size()];
    threads_.emplace_back([this, i, processor] { Run(i, processor); });
  }
}

IdleSpinners::~IdleSpinners() {
  stopping_.store(true);
  generation_.fetch_add(1);
  generation_.notify_all();
  for (std::thread& thread : threads_) thread.join();
}

void IdleSpinners::Arrived(Clock::time_point now) {
  const Clock::rep at = now.time_since_epoch().count();
  const Clock::rep before = last_.exchange(at, std::memory_order_relaxed);
  const Clock::rep quiet = std::chrono::duration_cast<Clock::duration>(kQuiet).count();
  if (threads_.empty() || at - before > quiet) return;  // a lone event wakes nothing
  if (awake_.exchange(true, std::memory_order_acq_rel)) return;
  generation_.fetch_add(1, std::memory_order_release);
  generation_.notify_all();
}

std::vector<int> IdleSpinners::ThreadIds() const {
  std::vector<int> ids;
  for (const std::atomic<int>& tid : tids_) {
    if (const int id = tid.load(); id != 0) ids.push_back(id);
  }
  return ids;
}

void IdleSpinners::Run(std::size_t index, int processor) {
  if (processor >= 0) {
    cpu_set_t one;
    CPU_ZERO(&one);
    CPU_SET(processor, &one);
    (void)::pthread_setaffinity_np(::pthread_self(), sizeof one, &one);
  }
  const pid_t tid = ::gettid();
  ScheduleIdle(tid);
  tids_[index].store(tid);
  const Clock::rep quiet = std::chrono::duration_cast<Clock::duration>(kQuiet).count();
  int seen = 0;
  while (true) {
    generation_.wait(seen, std::memory_order_acquire);
    seen = generation_.load(std::memory_order_acquire);
    if (stopping_.load()) return;
    spinning_.fetch_add(1, std::memory_order_relaxed);
    while (!stopping_.load(std::memory_order_relaxed) &&
           Clock::now().time_since_epoch().count() - last_.load(std::memory_order_relaxed) <= quiet) {
      ::sched_yield();
    }
    // An event arriving as the last one stops is not waited for: the next of
    // the burst begins the spinning again.
    if (spinning_.fetch_sub(1, std::memory_order_relaxed) == 1) awake_.store(false, std::memory_order_release);
  }
}

}  // namespace korbu::guard
