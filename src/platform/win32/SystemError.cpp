#include "platform/SystemError.h"

#include <string>

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

Error SystemError(int code) {
  if (code == 0) return Failure("unknown error");
  wchar_t* text = nullptr;
  const DWORD length = ::FormatMessageW(
      FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
      static_cast<DWORD>(code), 0, reinterpret_cast<wchar_t*>(&text), 0, nullptr);
  std::wstring message(text != nullptr ? text : L"", length);
  if (text != nullptr) ::LocalFree(text);
  while (!message.empty() && (message.back() == L'\n' || message.back() == L'\r' || message.back() == L'.'))
    message.pop_back();
  if (message.empty()) return Error{"system error " + std::to_string(code), code};
  return Error{win32::Utf8(message), code};
}

Error LastSystemError() { return SystemError(static_cast<int>(::GetLastError())); }

}  // namespace korbu::platform
