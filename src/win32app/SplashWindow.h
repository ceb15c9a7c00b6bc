#pragma once
// The splash window: the splash picture in a thin frame, always on top, with one
// bold status line at its lower right.

#include <string>

#include "win32app/Win32Api.h"

namespace korbu::win32app {

class SplashWindow {
 public:
  explicit SplashWindow(HWND owner);
  ~SplashWindow();
  SplashWindow(const SplashWindow&) = delete;
  SplashWindow& operator=(const SplashWindow&) = delete;

  HWND Handle() const { return window_; }
  /// Shows the text at once, also before the message loop runs.
  void SetStatus(const std::string& text);
  const std::string& Status() const { return status_; }

 private:
  static LRESULT CALLBACK Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
  void Paint();

  HWND window_ = nullptr;
  HBITMAP picture_ = nullptr;
  std::string status_ = "Application initialization...";
};

}  // namespace korbu::win32app
