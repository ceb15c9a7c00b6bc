#pragma once
// A MainThreadDispatcher without a GUI toolkit: workers queue their hand-overs and
// the main thread runs them when it pumps.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <exception>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "dispatch/MainThreadDispatcher.h"

namespace korbu {

class QueuedDispatcher final : public MainThreadDispatcher {
 public:
  /// The thread that constructs the dispatcher is its main thread.
  QueuedDispatcher();
  QueuedDispatcher(const QueuedDispatcher&) = delete;
  QueuedDispatcher& operator=(const QueuedDispatcher&) = delete;
  ~QueuedDispatcher() override;

  void RunOnMainThread(const std::function<void()>& work) override;
  bool IsMainThread() const override;
  /// Does nothing on any other thread than the main one.
  void ProcessPendingMessages() override;
  /// Called on another thread it runs nothing and waits while the main thread does.
  void WaitWithMessages(const std::function<bool()>& done) override;

  /// Number of hand-overs waiting for the main thread.
  std::size_t PendingCount() const;

 private:
  struct HandOver {
    std::function<void()> work;
    std::exception_ptr error;
    bool finished = false;
  };
  std::shared_ptr<HandOver> Take(bool wait);
  void Run(HandOver& item);

  const std::thread::id mainThread_;
  mutable std::mutex mutex_;
  std::condition_variable queued_;    // a hand-over arrived
  std::condition_variable finished_;  // a hand-over has run
  std::deque<std::shared_ptr<HandOver>> queue_;
};

}  // namespace korbu
