#pragma once
// The main-thread hand-over of the file search over Qt's event loop: the worker
// blocks on a queued call into the main thread, and waits keep painting and running
// hand-overs but take no user input.

#include <QObject>

#include "dispatch/MainThreadDispatcher.h"

namespace korbu {

class QtMainThreadDispatcher final : public MainThreadDispatcher {
 public:
  /// The thread that constructs the dispatcher must be the GUI thread.
  QtMainThreadDispatcher();
  ~QtMainThreadDispatcher() override;
  QtMainThreadDispatcher(const QtMainThreadDispatcher&) = delete;
  QtMainThreadDispatcher& operator=(const QtMainThreadDispatcher&) = delete;

  void RunOnMainThread(const std::function<void()>& work) override;
  bool IsMainThread() const override;
  void ProcessPendingMessages() override;
  void WaitWithMessages(const std::function<bool()>& done) override;

 private:
  QObject receiver_;  // lives on the main thread; queued calls run in its thread
};

}  // namespace korbu
