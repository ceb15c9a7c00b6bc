#include "cli/StopSignal.h"

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>

namespace korbu::cli {
namespace {

std::atomic<int> gStopSignal{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

void OnStopSignal(int signal) {
  int none = 0;
  gStopSignal.compare_exchange_strong(none, signal);
  // A second signal ends a program that does not stop.
  std::signal(signal, SIG_DFL);
}

}  // namespace

void InstallStopSignals() {
  for (int signal : {SIGINT, SIGTERM}) {
    // A signal the program was started ignoring (nohup, a shell's background job)
    // stays ignored.
    if (std::signal(signal, OnStopSignal) == SIG_IGN) std::signal(signal, SIG_IGN);
  }
}

bool StopRequested() { return gStopSignal.load() != 0; }

void EndIfStopped() {
  const int signal = gStopSignal.load();
  if (signal == 0) return;
#ifdef _WIN32
  // What Windows reports for a program that Ctrl-C ended (STATUS_CONTROL_C_EXIT).
  (void)signal;
  std::_Exit(static_cast<int>(0xC000013Au));
#else
  std::signal(signal, SIG_DFL);
  std::raise(signal);
  std::_Exit(128 + signal);  // not reached unless the signal is blocked
#endif
}

StopWatcher::StopWatcher(std::function<void()> stop) : stop_(std::move(stop)) {
  thread_ = std::thread([this] {
    std::unique_lock lock(mutex_);
    while (!done_) {
      wake_.wait_for(lock, std::chrono::milliseconds(100));
      if (done_ || !StopRequested()) continue;
      lock.unlock();
      stop_();
      lock.lock();
    }
  });
}

StopWatcher::~StopWatcher() {
  {
    std::lock_guard lock(mutex_);
    done_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

}  // namespace korbu::cli
