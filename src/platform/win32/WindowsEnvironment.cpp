#include "platform/WindowsEnvironment.h"

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

std::string ExpandWindowsEnvironment(std::string_view text) {
  const std::string source(text);
  if (source.find('\0') != std::string::npos) return source;
  std::string buffer(source.size() + MAX_PATH, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD need = ::ExpandEnvironmentStringsA(source.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (need == 0) return source;
    // The count includes the terminating zero.
    if (need <= buffer.size()) {
      buffer.resize(need - 1);
      return buffer;
    }
    buffer.resize(need);
  }
  return source;
}

}  // namespace korbu::platform
