#include "win32app/Win32Dispatcher.h"

#include <exception>
#include <stdexcept>
#include <thread>

#include "win32app/Win32Api.h"

namespace korbu::win32app {
namespace {

// Posted messages, timers, paint and sent messages: everything but input.
constexpr DWORD kWaitQueueStatus = 0x78;
// While a worker is waited for, input is thrown away.
bool IsUserInput(UINT message) {
  return (message >= 0x0100 && message <= 0x0108) || (message >= 0x0200 && message <= 0x020A);
}

struct HandOver {
  const std::function<void()>* work;
  std::exception_ptr error;
};

LRESULT CALLBACK HandOverProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == kRunHandOver) {
    auto* item = reinterpret_cast<HandOver*>(lParam);
    try {
      (*item->work)();
    } catch (...) {
      item->error = std::current_exception();
    }
    return 0;
  }
  return DefWindowProcW(window, message, wParam, lParam);
}

const wchar_t* const kClassName = L"KorbuHandOver";

}  // namespace

Win32Dispatcher::Win32Dispatcher() : mainThread_(GetCurrentThreadId()) {
  WNDCLASSW type{};
  type.lpfnWndProc = HandOverProc;
  type.hInstance = GetModuleHandleW(nullptr);
  type.lpszClassName = kClassName;
  RegisterClassW(&type);  // fails harmlessly when a second dispatcher registers again
  window_ = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                            type.hInstance, nullptr);
  if (window_ == nullptr) throw std::runtime_error("cannot create the hand-over window");
}

Win32Dispatcher::~Win32Dispatcher() { DestroyWindow(static_cast<HWND>(window_)); }

bool Win32Dispatcher::IsMainThread() const { return GetCurrentThreadId() == mainThread_; }

void Win32Dispatcher::RunOnMainThread(const std::function<void()>& work) {
  if (IsMainThread()) {
    work();
    return;
  }
  // A sent message runs on the window's thread while the sender waits; messages
  // sent from one thread run in the order sent.
  HandOver item{&work, nullptr};
  SendMessageW(static_cast<HWND>(window_), kRunHandOver, 0, reinterpret_cast<LPARAM>(&item));
  if (item.error) std::rethrow_exception(item.error);
}

void Win32Dispatcher::ProcessPendingMessages() {
  if (!IsMainThread() || quitSeen_) return;
  MSG message;
  while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
    if (message.message == WM_QUIT) {
      quitSeen_ = true;
      return;
    }
    TranslateMessage(&message);
    DispatchMessageW(&message);
  }
}

void Win32Dispatcher::WaitWithMessages(const std::function<bool()>& done) {
  if (!IsMainThread()) {
    while (!done()) std::this_thread::sleep_for(std::chrono::milliseconds(5));
    return;
  }
  while (!done()) {
    // The worker's hand-overs arrive as sent messages and wake the wait; the
    // short time-out only makes sure a done() turned true otherwise is seen.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 50, kWaitQueueStatus);
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        // Ends the wait; the program's loop ends on the flag, not on a re-post.
        quitSeen_ = true;
        return;
      }
      if (IsUserInput(message.message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
      if (done()) return;
    }
  }
}

}  // namespace korbu::win32app
