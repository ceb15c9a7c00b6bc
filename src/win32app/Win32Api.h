#pragma once
// The Win32 window's one door to the platform headers: the backend's own header,
// then the common controls, the shell namespace and the imaging component.

#include "platform/win32/WindowsSupport.h"
// After <windows.h>, which they need.
#include <commctrl.h>
#include <wincodec.h>
#include <windowsx.h>

#include <string>

namespace korbu::win32app {

/// The backend's conversion between the program's UTF-8 and the system's UTF-16.
namespace win32 = platform::win32;

/// Messages of the program's own windows.
inline constexpr UINT kRunHandOver = WM_APP + 1;   // lParam: the work to run
inline constexpr UINT kStartUp = WM_APP + 2;       // the first activation's steps
inline constexpr UINT kListClicked = WM_APP + 3;   // after a click has changed a mark

/// The window's font: Tahoma 8 points, bold or not. Made once, lives with the process.
HFONT WindowFont(bool bold);

/// A window's text as the program's UTF-8.
std::string WindowText(HWND window);

}  // namespace korbu::win32app
