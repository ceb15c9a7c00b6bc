#include "ui/BackgroundWork.h"

#include <utility>

namespace korbu {

BackgroundWork::~BackgroundWork() {
  Wait();
  if (thread_.joinable()) thread_.join();
}

void BackgroundWork::Start(std::function<void()> work, std::function<void(std::exception_ptr)> finished) {
  if (running_) return;
  // The last work's thread handed its end over and has nothing left to do.
  if (thread_.joinable()) thread_.join();
  thread_ = std::thread([this, work = std::move(work), finished = std::move(finished)] {
    std::exception_ptr error;
    try {
      work();
    } catch (...) {
      error = std::current_exception();
    }
    // Synchronous: the end reaches the main thread after the work's own hand-overs.
    dispatcher_.RunOnMainThread([&] {
      running_ = false;
      try {
        finished(error);
      } catch (...) {
      }
    });
  });
  // Only now: a thread that cannot be made leaves nothing running. The end cannot
  // arrive before the main thread next runs its hand-overs.
  running_ = true;
}

void BackgroundWork::Wait() {
  if (running_) dispatcher_.WaitWithMessages([this] { return !running_; });
}

}  // namespace korbu
