#include "win32app/SplashWindow.h"

#include "win32app/Controls.h"
#include "win32app/Pictures.h"

namespace korbu::win32app {
namespace {

constexpr int kWidth = 400;
constexpr int kHeight = 110;
constexpr int kStatusLeft = 236;
constexpr int kStatusTop = 92;
const wchar_t* const kClassName = L"TSplashForm";

}  // namespace

SplashWindow::SplashWindow(HWND owner) : picture_(LoadPicture(kSplashPicture)) {
  RegisterWindowClass(kClassName, Proc, reinterpret_cast<LPCWSTR>(IDC_WAIT));
  const int left = (GetSystemMetrics(SM_CXSCREEN) - Scaled(kWidth)) / 2;
  const int top = (GetSystemMetrics(SM_CYSCREEN) - Scaled(kHeight)) / 2;
  window_ = CreateWindowExW(WS_EX_TOPMOST | WS_EX_TOOLWINDOW, kClassName, L"", WS_POPUP, left, top,
                            Scaled(kWidth), Scaled(kHeight), owner, nullptr, GetModuleHandleW(nullptr), this);
}

SplashWindow::~SplashWindow() {
  if (window_ != nullptr) DestroyWindow(window_);
  if (picture_ != nullptr) DeleteObject(picture_);
}

void SplashWindow::SetStatus(const std::string& text) {
  status_ = text;
  if (window_ == nullptr) return;
  InvalidateRect(window_, nullptr, FALSE);
  UpdateWindow(window_);
}

void SplashWindow::Paint() {
  PAINTSTRUCT paint;
  HDC dc = BeginPaint(window_, &paint);
  DrawPicture(dc, picture_, 0, 0);
  // The one-pixel frame around the picture.
  RECT whole = Scaled(RECT{0, 0, kWidth, kHeight});
  FrameRect(dc, &whole, static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
  SetBkMode(dc, TRANSPARENT);
  HGDIOBJ old = SelectObject(dc, WindowFont(true));
  const std::wstring status = win32::Wide(status_);
  TextOutW(dc, Scaled(kStatusLeft), Scaled(kStatusTop), status.c_str(), static_cast<int>(status.size()));
  SelectObject(dc, old);
  EndPaint(window_, &paint);
}

LRESULT CALLBACK SplashWindow::Proc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<SplashWindow*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self != nullptr && message == WM_PAINT && self->window_ == window) {
    self->Paint();
    return 0;
  }
  if (message == WM_ERASEBKGND) return 1;  // the picture covers everything
  return DefWindowProcW(window, message, wParam, lParam);
}

}  // namespace korbu::win32app
