#include "cli/StopSignal.h"

#include <atomic>
#include <chrono>
#include <csignal>

namespace korbu::cli {
namespace {

std::atomic<bool> gStopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free, "the signal handler needs a lock-free flag");

void OnStopSignal(int signal) {
  gStopRequested.store(true);
  // A second signal ends a program that does not stop.
  std::signal(signal, SIG_DFL);
}

}  // namespace

void InstallStopSignals() {
  std::signal(SIGINT, OnStopSignal);
  std::signal(SIGTERM, OnStopSignal);
}

bool StopRequested() { return gStopRequested.load(); }

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
