#pragma once
// The window's building blocks: labels, heading bars, flat bold check boxes and
// buttons in the window's font and colours, and the pages they sit on. Texts are
// the program's UTF-8; every window is a Unicode one, so any name shows as it is.

#include <vector>

#include "win32app/Win32Api.h"

namespace korbu::win32app {

inline constexpr COLORREF kBarFace = RGB(202, 240, 255);
inline constexpr COLORREF kNavy = RGB(0, 0, 128);
inline constexpr COLORREF kFrameBlue = RGB(0, 128, 255);

/// The screen's pixels per inch. The window is laid out in the pixels of a 96-DPI
/// screen, and every length is scaled by this, as its font is.
int ScreenDpi();
/// A length of the 96-DPI layout in this screen's pixels.
int Scaled(int length);
RECT Scaled(RECT box);

/// Registers a window class with a white background, the application icon and the
/// given cursor; registering the same class again fails harmlessly.
void RegisterWindowClass(const wchar_t* name, WNDPROC proc, LPCWSTR cursor = reinterpret_cast<LPCWSTR>(IDC_ARROW));

/// The window procedure of a window made for an object (its CREATESTRUCT's
/// parameter): the object, kept in the window's user data, gets each message
/// through onMessage; its handle member is set during creation and cleared when
/// the window is gone, so nothing reaches an object whose window was destroyed.
template <typename Window>
LRESULT RouteToObject(HWND window, UINT message, WPARAM wParam, LPARAM lParam, HWND Window::*handle,
                      LRESULT (Window::*onMessage)(UINT, WPARAM, LPARAM)) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<CREATESTRUCTW*>(lParam);
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  }
  auto* self = reinterpret_cast<Window*>(GetWindowLongPtrW(window, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcW(window, message, wParam, lParam);
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrW(window, GWLP_USERDATA, 0);
    self->*handle = nullptr;
    return DefWindowProcW(window, message, wParam, lParam);
  }
  if (self->*handle == nullptr) self->*handle = window;  // messages during creation
  return (self->*onMessage)(message, wParam, lParam);
}

/// A page: a plain white child window that passes its controls' notifications to
/// its parent and draws the frames around its groups.
HWND MakePage(HWND parent, int x, int y, int width, int height);
/// Adds a group frame (drawn in the frame colour) to a page.
void AddFrame(HWND page, RECT frame);

HWND MakeLabel(HWND parent, int id, const char* text, int x, int y, int width, int height,
               bool bold = false, DWORD style = 0);
/// A heading bar: light blue face, navy bold text, a medium blue shadow.
HWND MakeBar(HWND parent, int id, const char* text, int x, int y, int width, int height);
HWND MakeCheckBox(HWND parent, int id, const char* text, int x, int y, int width, int height);
/// A flat check box without a caption that is drawn greyed while disabled (the
/// common controls draw a disabled flat box almost as an enabled one).
void GreyWhenDisabled(HWND checkBox);
HWND MakeButton(HWND parent, int id, const char* text, int x, int y, int width, int height);

/// Draws a heading bar for its WM_DRAWITEM.
void DrawBar(const DRAWITEMSTRUCT& item);
/// True for the push buttons, which carry the hand cursor.
bool IsPushButton(HWND control);

}  // namespace korbu::win32app
