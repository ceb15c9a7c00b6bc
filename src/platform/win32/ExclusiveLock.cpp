// LockFileEx on a handle of its own: two opens conflict even within one program.
#include "platform/ExclusiveLock.h"

#include <thread>
#include <utility>

#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

Expected<ExclusiveLock> ExclusiveLock::Take(const Folder& folder, const std::string& name,
                                            std::chrono::milliseconds wait) {
  const auto wide = win32::WidePath(folder.PathOf(name));
  if (!wide) return LastSystemError().Context(folder.PathOf(name));
  win32::UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                      nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT,
                                      nullptr));
  if (!h.Valid()) return LastSystemError().Context(folder.PathOf(name));
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (true) {
    OVERLAPPED whole{};
    if (::LockFileEx(h.Get(), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) break;
    if (::GetLastError() != ERROR_LOCK_VIOLATION) return LastSystemError().Context(folder.PathOf(name));
    if (std::chrono::steady_clock::now() >= deadline) return Failure("held by another program", ErrorKind::Busy);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ExclusiveLock(reinterpret_cast<std::intptr_t>(h.Release()));
}

ExclusiveLock::ExclusiveLock(ExclusiveLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

ExclusiveLock::~ExclusiveLock() {
  if (handle_ != -1) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));  // closing lets go
}

}  // namespace korbu::platform
