// flock() on a descriptor of its own: two opens conflict even within one program.
#include "platform/ExclusiveLock.h"

#include <sys/file.h>

#include <thread>
#include <utility>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {

Expected<ExclusiveLock> ExclusiveLock::Take(const Folder& folder, const std::string& name,
                                            std::chrono::milliseconds wait) {
  const int parent = static_cast<int>(folder.NativeHandle());
  posix::UniqueFd fd(posix::RetryOnEintr([&] {
    return ::openat(parent, name.c_str(), O_RDWR | O_CREAT | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC, 0600);
  }));
  if (!fd.Valid()) return LastSystemError().Context(folder.PathOf(name));
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return LastSystemError().Context(folder.PathOf(name));
  if (!S_ISREG(st.st_mode)) return Failure(folder.PathOf(name) + " is not a regular file", EINVAL);
  const auto deadline = std::chrono::steady_clock::now() + wait;
  while (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) {
    if (errno != EWOULDBLOCK && errno != EINTR) return LastSystemError().Context(folder.PathOf(name));
    if (std::chrono::steady_clock::now() >= deadline) return Failure("held by another program", ErrorKind::Busy);
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ExclusiveLock(fd.Release());
}

ExclusiveLock::ExclusiveLock(ExclusiveLock&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

ExclusiveLock::~ExclusiveLock() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));  // closing lets go
}

}  // namespace korbu::platform
