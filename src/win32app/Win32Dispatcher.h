#pragma once
// The main-thread hand-over over the Win32 message queue: a worker's work is sent
// to a message-only window of the main thread and runs when that thread takes its
// messages; waiting for a worker keeps dispatching everything but user input.

#include <functional>

#include "dispatch/MainThreadDispatcher.h"

namespace korbu::win32app {

class Win32Dispatcher final : public MainThreadDispatcher {
 public:
  /// The thread that constructs the dispatcher is its main thread.
  Win32Dispatcher();
  ~Win32Dispatcher() override;
  Win32Dispatcher(const Win32Dispatcher&) = delete;
  Win32Dispatcher& operator=(const Win32Dispatcher&) = delete;

  void RunOnMainThread(const std::function<void()>& work) override;
  bool IsMainThread() const override;
  void ProcessPendingMessages() override;
  void WaitWithMessages(const std::function<bool()>& done) override;

  /// True once a WM_QUIT was taken from the queue by one of the two pumps above;
  /// the program's message loop then ends.
  bool QuitSeen() const { return quitSeen_; }

 private:
  unsigned long mainThread_ = 0;
  void* window_ = nullptr;  // the message-only window
  bool quitSeen_ = false;
};

}  // namespace korbu::win32app
