#pragma once
// Processors kept awake while permission events come in a burst (a tree
// unpacked: each new file is one open that waits for the guard). Each such open
// waits for two wake-ups, the event thread's and then the opener's, and a
// processor gone to sleep takes long to wake (on a virtual machine, tens of
// microseconds: a round trip through the host), several times what the answer
// itself takes. So from the second of two events close together, one thread
// per processor spins on it until no event came for kQuiet. They are of the
// idle class and yield at each turn: they take no time from any program, nor
// from the guard's own judgements, only the sleep of processors nobody wants.
// They take no lock, so that none of them, starved, can hold up the event thread.

#include <atomic>
#include <chrono>
#include <cstddef>
#include <thread>
#include <vector>

namespace korbu::guard {

class IdleSpinners {
 public:
  using Clock = std::chrono::steady_clock;

  /// How long spinning goes on after an event, and how close two events come
  /// to begin it.
  static constexpr std::chrono::microseconds kQuiet{1000};
  /// Threads at most, one for each processor the guard may use.
  static constexpr int kMost = 8;

  /// count threads (0: none).
  explicit IdleSpinners(int count);
  ~IdleSpinners();
  IdleSpinners(const IdleSpinners&) = delete;
  IdleSpinners& operator=(const IdleSpinners&) = delete;

  /// A permission event was read at now. Cheap (two atomic operations) but for
  /// the one that begins a burst, which wakes the threads.
  void Arrived(Clock::time_point now);

  /// Threads spinning now.
  int Spinning() const { return spinning_.load(std::memory_order_relaxed); }
  /// Their thread ids, once each has begun.
  std::vector<int> ThreadIds() const;

  /// The threads for the processors the guard may use (at most kMost).
  static int ThreadsForProcessors();

 private:
  void Run(std::size_t index, int processor);
  std::atomic<Clock::rep> last_{0};  // when the last event came
  std::atomic<bool> awake_{false};   // a burst's spinning was begun
  std::atomic<int> generation_{0};   // one more for each burst begun, and for the stop
  std::atomic<int> spinning_{0};
  std::atomic<bool> stopping_{false};
  std::vector<std::atomic<int>> tids_;
  std::vector<std::thread> threads_;
};

}  // namespace korbu::guard
