#include "platform/SharedFile.h"

#include <pwd.h>
#include <sys/file.h>

#include <cstdlib>
#include <utility>

#include "platform/DurableFile.h"
#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

using posix::RetryOnEintr;
using posix::UniqueFd;

constexpr mode_t kOthersBits = 077;

// The user's own, and nobody else's to read or change: the mode is tightened on
// the open descriptor, so no swapped name is ever changed.
Status CheckOwnAndPrivate(int fd, bool folder, mode_t privateMode) {
  struct stat st {};
  if (::fstat(fd, &st) != 0) return LastSystemError();
  if (folder ? !S_ISDIR(st.st_mode) : !S_ISREG(st.st_mode)) {
    return Failure(folder ? "not a folder" : "not a regular file");
  }
  if (st.st_uid != ::geteuid()) return Failure("owned by another user (uid " + std::to_string(st.st_uid) + ")");
  if ((st.st_mode & kOthersBits) != 0 && ::fchmod(fd, privateMode) != 0) return LastSystemError();
  return Ok();
}

Error WithErrno(int error) {
  // With O_NOFOLLOW a link in the last component fails with ELOOP.
  if (error == ELOOP) return Failure("a link, not followed", error);
  return SystemError(error);
}

}  // namespace

std::string ProgramCacheFolder() {
  // Only an absolute XDG_CACHE_HOME counts, as the base directory rules say.
  if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/') {
    return std::string(cache) + "/korbu";
  }
  if (const char* home = std::getenv("HOME"); home != nullptr && home[0] == '/') {
    return std::string(home) + "/.cache/korbu";
  }
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr && pw->pw_dir[0] == '/') {
    return std::string(pw->pw_dir) + "/.cache/korbu";
  }
  return std::string();
}

Status EnsurePrivateFolder(const std::string& path) {
  if (path.empty()) return Failure("no folder given");
  const auto slash = path.find_last_of('/');
  if (slash != std::string::npos && slash > 0) {
    if (Status made = MakePrivateFolders(path.substr(0, slash)); !made) return made.error().Context("cannot make it");
  }
  if (::mkdir(path.c_str(), 0700) != 0 && errno != EEXIST) return LastSystemError().Context(path);
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); }));
  if (!fd.Valid()) return WithErrno(errno).Context(path);
  Status own = CheckOwnAndPrivate(fd.Get(), true, 0700);
  if (!own) return own.error().Context(path);
  return Ok();
}

Expected<SharedFile> SharedFile::Open(const std::string& path, bool create) {
  const int flags = O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY | (create ? O_CREAT : 0);
  UniqueFd fd(RetryOnEintr([&] { return ::open(path.c_str(), flags, 0600); }));
  if (!fd.Valid()) return WithErrno(errno);
  Status own = CheckOwnAndPrivate(fd.Get(), false, 0600);
  if (!own) return own.error();
  return SharedFile(fd.Release());
}

void SharedFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
}

Expected<std::uint64_t> SharedFile::Size() const {
  struct stat st {};
  if (::fstat(static_cast<int>(handle_), &st) != 0) return LastSystemError();
  return static_cast<std::uint64_t>(st.st_size);
}

Status SharedFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) const {
  auto* at = static_cast<char*>(buffer);
  while (count > 0) {
    const ssize_t got = RetryOnEintr(
        [&] { return ::pread(static_cast<int>(handle_), at, count, static_cast<off_t>(offset)); });
    if (got < 0) return LastSystemError();
    if (got == 0) return Failure("the file is shorter than expected");
    at += got;
    count -= static_cast<std::size_t>(got);
    offset += static_cast<std::uint64_t>(got);
  }
  return Ok();
}

Status SharedFile::WriteAt(std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    const ssize_t wrote = RetryOnEintr([&] {
      return ::pwrite(static_cast<int>(handle_), bytes.data(), bytes.size(), static_cast<off_t>(offset));
    });
    if (wrote <= 0) return wrote < 0 ? LastSystemError() : Failure("nothing written");
    bytes.remove_prefix(static_cast<std::size_t>(wrote));
    offset += static_cast<std::uint64_t>(wrote);
  }
  return Ok();
}

Expected<bool> FileLock::TryLock(SharedFile& file) {
  if (::flock(static_cast<int>(file.handle_), LOCK_EX | LOCK_NB) == 0) return true;
  if (errno == EWOULDBLOCK || errno == EINTR) return false;
  return LastSystemError();
}

}  // namespace korbu::platform
