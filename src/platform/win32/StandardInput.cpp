// Standard input as a file that can be read at any offset, as a verdict reads.
#include <string>

#include "platform/OpenedFile.h"
#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

// A new file in the user's temporary folder, shared with nobody and deleted by
// the system when its last handle closes.
win32::UniqueHandle AnonymousFile(std::string& error) {
  wchar_t folder[MAX_PATH + 1] = {};
  const DWORD length = ::GetTempPathW(MAX_PATH + 1, folder);
  if (length == 0 || length > MAX_PATH) {
    error = "cannot find the temporary folder: " + LastSystemError().reason;
    return win32::UniqueHandle();
  }
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::wstring name = std::wstring(folder) + L"korbu-stdin-" + std::to_wstring(::GetCurrentProcessId()) +
                              L"-" + std::to_wstring(::GetTickCount()) + L"-" + std::to_wstring(attempt) + L".tmp";
    win32::UniqueHandle h(::CreateFileW(name.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                        FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr));
    if (h.Valid()) return h;
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  error = "cannot make a temporary file: " + LastSystemError().reason;
  return win32::UniqueHandle();
}

}  // namespace

OpenedFile OpenedFile::FromStandardInput(std::uint64_t maxBytes, const std::function<bool()>& stop) {
  OpenedFile file;
  win32::UniqueHandle temporary = AnonymousFile(file.error_);
  if (!temporary.Valid()) return file;
  const HANDLE input = ::GetStdHandle(STD_INPUT_HANDLE);
  if (input == nullptr || input == INVALID_HANDLE_VALUE) {
    file.error_ = "there is no standard input";
    return file;
  }
  char buffer[65536];
  std::uint64_t total = 0;
  while (maxBytes == 0 || total < maxBytes) {
    if (stop && stop()) {
      file.error_ = "stopped";
      return file;
    }
    DWORD want = sizeof buffer;
    if (maxBytes != 0 && maxBytes - total < want) want = static_cast<DWORD>(maxBytes - total);
    DWORD got = 0;
    if (!::ReadFile(input, buffer, want, &got, nullptr)) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_BROKEN_PIPE || error == ERROR_HANDLE_EOF) break;  // the writer is done
      file.error_ = "standard input: " + SystemError(static_cast<int>(error)).reason;
      return file;
    }
    if (got == 0) break;
    DWORD put = 0;
    if (!::WriteFile(temporary.Get(), buffer, got, &put, nullptr) || put != got) {
      file.error_ = "cannot keep standard input in a temporary file: " + LastSystemError().reason;
      return file;
    }
    total += got;
  }
  file.size_ = total;
  file.handle_ = reinterpret_cast<std::intptr_t>(temporary.Release());
  return file;
}

}  // namespace korbu::platform
