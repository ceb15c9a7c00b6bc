#include "platform/WindowsEnvironment.h"

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

std::string ExpandWindowsEnvironment(std::string_view text) {
  const std::string source(text);
  if (source.find('\0') != std::string::npos) return source;
  const std::wstring wide = win32::Wide(source);
  std::wstring buffer(wide.size() + MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD need = ::ExpandEnvironmentStringsW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (need == 0) return source;
    // The count includes the terminating zero.
    if (need <= buffer.size()) {
      buffer.resize(need - 1);
      return win32::Utf8(buffer);
    }
    buffer.resize(need);
  }
  return source;
}

}  // namespace korbu::platform
