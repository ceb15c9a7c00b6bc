#include "win32app/ToolTips.h"

#include <algorithm>

namespace korbu::win32app {
namespace {

template <typename Info>  // TTTOOLINFOA or TTTOOLINFOW
Info ToolOf(HWND control) {
  Info tool{};
  tool.cbSize = sizeof tool;
  tool.uFlags = TTF_IDISHWND | TTF_SUBCLASS;
  tool.hwnd = GetParent(control);
  tool.uId = reinterpret_cast<UINT_PTR>(control);
  return tool;
}

}  // namespace

ToolTips::ToolTips(HWND owner)
    : tips_(CreateWindowExA(WS_EX_TOPMOST, TOOLTIPS_CLASSA, nullptr, WS_POPUP | TTS_ALWAYSTIP | TTS_NOPREFIX,
                            CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, owner, nullptr,
                            GetModuleHandleA(nullptr), nullptr)) {
  // Long tips (a database folder's reason, a deep path) break into lines, not off the screen.
  if (tips_ != nullptr) SendMessageA(tips_, TTM_SETMAXTIPWIDTH, 0, GetSystemMetrics(SM_CXSCREEN) / 2);
}

void ToolTips::Set(HWND control, const std::string& tip) {
  if (tips_ == nullptr || control == nullptr) return;
  auto tool = ToolOf<TTTOOLINFOA>(control);
  tool.lpszText = const_cast<char*>(tip.c_str());
  if (std::find(tools_.begin(), tools_.end(), control) == tools_.end()) {
    if (SendMessageA(tips_, TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool)) != FALSE) tools_.push_back(control);
  } else {
    SendMessageA(tips_, TTM_UPDATETIPTEXTA, 0, reinterpret_cast<LPARAM>(&tool));
  }
}

std::string ToolTips::Get(HWND control) const {
  if (std::find(tools_.begin(), tools_.end(), control) == tools_.end()) return std::string();
  // The ANSI message gives at most 80 bytes; the wide one up to INFOTIPSIZE characters,
  // whatever size is passed.
  std::wstring wide(INFOTIPSIZE + 1, L'\0');
  auto tool = ToolOf<TTTOOLINFOW>(control);
  tool.lpszText = wide.data();
  SendMessageW(tips_, TTM_GETTEXTW, INFOTIPSIZE, reinterpret_cast<LPARAM>(&tool));
  wide.resize(wide.find(L'\0'));
  return platform::win32::Utf8(wide);
}

bool TextFits(HWND label, const std::string& text) {
  RECT box;
  if (GetClientRect(label, &box) == FALSE) return true;
  HDC dc = GetDC(label);
  if (dc == nullptr) return true;
  HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageA(label, WM_GETFONT, 0, 0)));
  SIZE extent{};
  GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
  SelectObject(dc, old);
  ReleaseDC(label, dc);
  return extent.cx <= box.right - box.left;
}

}  // namespace korbu::win32app
