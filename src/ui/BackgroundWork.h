#pragma once
// One piece of the window's long work (loading the engine, the first scan phases,
// an action) on a thread of its own, so that the window keeps painting and
// answering. What the work shows it hands to the main thread itself; its end is
// handed there too, after every hand-over it made.

#include <exception>
#include <functional>
#include <thread>

#include "dispatch/MainThreadDispatcher.h"

namespace korbu {

class BackgroundWork {
 public:
  /// The dispatcher outlives this object.
  explicit BackgroundWork(MainThreadDispatcher& dispatcher) : dispatcher_(dispatcher) {}
  /// Waits for work still running, running its hand-overs meanwhile.
  ~BackgroundWork();
  BackgroundWork(const BackgroundWork&) = delete;
  BackgroundWork& operator=(const BackgroundWork&) = delete;

  /// Main thread, while not Running: runs work on a new thread; once it has
  /// returned, finished runs on the main thread with what work threw (null when
  /// nothing). Errors that finished throws are dropped.
  void Start(std::function<void()> work, std::function<void(std::exception_ptr)> finished);

  /// Main thread: true from Start until finished has run.
  bool Running() const { return running_; }

  /// Main thread: returns once finished has run, running hand-overs (and a
  /// window's paints and timers, never its input) meanwhile.
  void Wait();

 private:
  MainThreadDispatcher& dispatcher_;
  std::thread thread_;
  bool running_ = false;  // main thread only
};

}  // namespace korbu
