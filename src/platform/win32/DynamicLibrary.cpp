#include "platform/DynamicLibrary.h"

#include <cstring>
#include <string>
#include <utility>

#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

thread_local std::string lastOpenError;

}  // namespace

std::string DynamicLibrary::LastOpenError() { return lastOpenError; }

std::optional<DynamicLibrary> DynamicLibrary::Open(const std::string& nameOrPath) {
  lastOpenError = "no library name";
  if (nameOrPath.empty()) return std::nullopt;
  if (nameOrPath.find('\0') != std::string::npos) {
    lastOpenError = "not a file name";
    return std::nullopt;
  }
  // No "cannot find the DLL" message box when the library is missing.
  const UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryW(win32::Wide(nameOrPath).c_str());
  const DWORD error = ::GetLastError();
  ::SetErrorMode(oldMode);
  if (module == nullptr) {
    lastOpenError = SystemError(static_cast<int>(error)).reason;
    return std::nullopt;
  }
  lastOpenError.clear();
  return DynamicLibrary(module);
}

bool DynamicLibrary::IsLoaded(const std::string& nameOrPath) {
  if (nameOrPath.empty() || nameOrPath.find('\0') != std::string::npos) return false;
  return ::GetModuleHandleW(win32::Wide(nameOrPath).c_str()) != nullptr;
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) ::FreeLibrary(static_cast<HMODULE>(handle_));
}

DynamicLibrary::Entry DynamicLibrary::FindEntry(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  FARPROC address = ::GetProcAddress(static_cast<HMODULE>(handle_), name);
  if (address == nullptr) return nullptr;
  Entry entry = nullptr;
  static_assert(sizeof(entry) == sizeof(address));
  std::memcpy(&entry, &address, sizeof(entry));
  return entry;
}

void DynamicLibrary::KeepLoaded() { handle_ = nullptr; }

}  // namespace korbu::platform
