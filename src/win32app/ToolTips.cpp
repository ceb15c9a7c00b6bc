#include "win32app/ToolTips.h"

#include <algorithm>

namespace korbu::win32app {
namespace {

TTTOOLINFOW ToolOf(HWND control) {
  TTTOOLINFOW tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  return tool;
}

}  // namespace

ToolTips::ToolTips(HWND owner)
    : tips_(CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                            GetModuleHandleW(nullptr), nullptr)) {
  // Long tips (a database folder's reason, a deep path) break into lines, not off the screen.
  if (tips_ != nullptr) SendMessageW(tips_, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN) / 2);
}

void ToolTips::Set(HWND control, const std::string& tip) {
  if (tips_ == nullptr || control == nullptr) return;
  std::wstring text = win32::Wide(tip);
  auto tool = ToolOf(control);
  tool.lpszText = text.data();
  if (std::find(tools_.begin(), tools_.end(), control) == tools_.end()) {
    if (SendMessageW(tips_, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&tool)) != FALSE) tools_.push_back(control);
  } else {
    SendMessageW(tips_, TTM_UPDATETIPTEXTW, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::string ToolTips::Get(HWND control) const {
  if (std::find(tools_.begin(), tools_.end(), control) == tools_.end()) return std::string();
  // Up to INFOTIPSIZE characters, whatever size is passed.
  std::wstring wide(INFOTIPSIZE + 1, L'\0');
  auto tool = ToolOf(control);
  tool.lpszText = wide.data();
  SendMessageW(tips_, TTM_GETTEXTW, INFOTIPSIZE, reinterpret_cast<LPARAM>(&tool));
  wide.resize(wide.find(L'\0'));
  return win32::Utf8(wide);
}

bool TextFits(HWND label, const std::string& text) {
  RECT box;
  if (GetClientRect(label, &box) == FALSE) return true;
  HDC dc = GetDC(label);
  if (dc == nullptr) return true;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  const std::wstring wide = win32::Wide(text);
  GetTextExtentPoint32W(dc, wide.c_str(), static_cast<int>(wide.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return extent.cx <= box.right - box.left;
}

}  // namespace korbu::win32app
