#include "platform/Path.h"

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

std::string CurrentDirectory() {
  std::string dir = win32::FillString([](wchar_t* b, DWORD n) { return ::GetCurrentDirectoryW(n, b); });
  // "C:\" keeps its separator; every other folder loses it.
  if (dir.size() > 3 && (dir.back() == '\\' || dir.back() == '/')) dir.pop_back();
  return dir;
}

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = ::GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    // A full buffer means the name was cut short.
    if (n < buffer.size()) return win32::Utf8(std::wstring_view(buffer).substr(0, n));
    buffer.resize(buffer.size() * 2);
  }
  return {};
}

}  // namespace korbu::platform
