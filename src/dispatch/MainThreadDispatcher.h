#pragma once
// The seam between a worker thread and the program's main thread. The desktop
// program implements it over its GUI toolkit's event loop, the command line and the
// tests use QueuedDispatcher.

#include <functional>

namespace korbu {

class MainThreadDispatcher {
 public:
  virtual ~MainThreadDispatcher() = default;

  /// Runs work on the main thread and returns once it has run there; hand-overs
  /// from one thread run in the order they were made. On the main thread itself the
  /// work runs at once. An exception thrown by work is rethrown to the caller.
  virtual void RunOnMainThread(const std::function<void()>& work) = 0;

  /// True on the main thread.
  virtual bool IsMainThread() const = 0;

  /// Main thread only: runs the hand-overs (and a GUI's other pending messages)
  /// waiting now, then returns without blocking.
  virtual void ProcessPendingMessages() = 0;

  /// Main thread only: blocks until done() holds, running hand-overs (and a GUI's
  /// timers and paints, never user input) as they arrive. done is checked before
  /// each block and after every hand-over, so it must become true through one.
  virtual void WaitWithMessages(const std::function<bool()>& done) = 0;
};

}  // namespace korbu
