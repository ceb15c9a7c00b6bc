// Folders held as descriptors: every step below the root is an openat() with
// O_NOFOLLOW, every change an *at() call relative to the held descriptor.
#include "platform/FolderHandle.h"

#include <sys/file.h>

#include <cstring>
#include <random>

#include "platform/Path.h"
#include "platform/Wildcard.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {

struct Folder::Handle {
  explicit Handle(int descriptor) : fd(descriptor) {}
  ~Handle() { ::close(fd); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  int fd;
};

namespace {

using posix::RetryOnEintr;
using posix::UniqueFd;

// One component of a path: never empty, never "." or "..", never holding a '/'.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find('/') == std::string::npos &&
         name.find('\0') == std::string::npos;
}

int OpenSubfolder(int parent, const char* name) {
  return RetryOnEintr([&] { return ::openat(parent, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC); });
}

bool WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = RetryOnEintr([&] { return ::write(fd, text.data() + done, text.size() - done); });
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

// A free name for a temporary file beside name; the descriptor is open for writing.
UniqueFd CreateTemporary(int folder, const std::string& name, std::string& tempName) {
  std::random_device seed;
  std::mt19937_64 random(seed());
  for (int attempt = 0; attempt < 100; ++attempt) {
    tempName = "." + name.substr(0, 200) + "." + std::to_string(random() % 1000000000ULL) + ".tmp";
    UniqueFd fd(RetryOnEintr([&] {
      return ::openat(folder, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    }));
    if (fd.Valid() || errno != EEXIST) return fd;
  }
  return UniqueFd();
}

}  // namespace

std::optional<Folder> Folder::Open(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.empty() || full.front() != '/') return std::nullopt;
  UniqueFd fd(RetryOnEintr([] { return ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  std::size_t start = 1;
  while (fd.Valid() && start < full.size()) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    if (end > start) {
      const std::string component = full.substr(start, end - start);
      fd = UniqueFd(OpenSubfolder(fd.Get(), component.c_str()));
    }
    start = end + 1;
  }
  if (!fd.Valid()) return std::nullopt;
  return Folder(std::make_shared<const Handle>(fd.Release()), full);
}

std::optional<Folder> Folder::Child(const std::string& name) const {
  if (!IsPlainName(name)) return std::nullopt;
  UniqueFd fd(OpenSubfolder(handle_->fd, name.c_str()));
  if (!fd.Valid()) return std::nullopt;
  return Folder(std::make_shared<const Handle>(fd.Release()), PathOf(name));
}

std::optional<EntryInfo> Folder::Entry(const std::string& name) const {
  if (!IsPlainName(name)) return std::nullopt;
  struct stat st {};
  if (::fstatat(handle_->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return std::nullopt;
  return posix::EntryFromStat(name.c_str(), st);
}

Status Folder::List(const std::string& mask, const std::function<bool(const EntryInfo&)>& visit) const {
  // A description of its own, so that listings never share a position.
  return posix::ListOpenFolder(
      RetryOnEintr([&] { return ::openat(handle_->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }), mask, visit);
}

std::optional<InputFile> Folder::OpenFile(const std::string& name) const {
  if (!IsPlainName(name)) return std::nullopt;
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(handle_->fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags != -1) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return InputFile(fd.Release(), static_cast<std::uint64_t>(st.st_size));
}

bool Folder::SetAttributes(const std::string& name, std::uint32_t attributes) const {
  if (!IsPlainName(name)) return false;
  // A descriptor of the entry itself (a link is refused), then its mode through it.
  UniqueFd fd(RetryOnEintr([&] { return ::openat(handle_->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || S_ISLNK(st.st_mode)) return false;
  mode_t mode = st.st_mode & 07777;
  if ((attributes & kAttrReadOnly) != 0) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  // fchmod refuses O_PATH descriptors; the descriptor's /proc entry names the
  // very same file without following anything.
  const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
  return ::chmod(self.c_str(), mode) == 0;
}

bool Folder::CanOpenExclusively(const std::string& name) const {
  if (!IsPlainName(name)) return false;
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(handle_->fd, name.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  ::flock(fd.Get(), LOCK_UN);
  return true;
}

bool Folder::DeleteFile(const std::string& name) const {
  return IsPlainName(name) && ::unlinkat(handle_->fd, name.c_str(), 0) == 0;
}

bool Folder::CreateNewFile(const std::string& name, const std::string& content) const {
  if (!IsPlainName(name)) return false;
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(handle_->fd, name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
  }));
  if (!fd.Valid()) return false;
  const bool written = WriteAll(fd.Get(), content) && ::fsync(fd.Get()) == 0;
  if (::close(fd.Release()) != 0 || !written) {
    ::unlinkat(handle_->fd, name.c_str(), 0);
    return false;
  }
  return true;
}

bool Folder::ReplaceContent(const std::string& name, const std::string& content) const {
  if (!IsPlainName(name)) return false;
  struct stat old {};
  const bool existed = ::fstatat(handle_->fd, name.c_str(), &old, AT_SYMLINK_NOFOLLOW) == 0;
  if (existed && !S_ISREG(old.st_mode)) return false;
  std::string temp;
  UniqueFd fd = CreateTemporary(handle_->fd, name, temp);
  if (!fd.Valid()) return false;
  bool ok = WriteAll(fd.Get(), content);
  const mode_t mode = existed ? (old.st_mode & 07777) : 0600;
  if (ok) ok = ::fchmod(fd.Get(), mode) == 0;
  if (ok) ok = ::fsync(fd.Get()) == 0;
  if (::close(fd.Release()) != 0) ok = false;
  if (ok) ok = ::renameat(handle_->fd, temp.c_str(), handle_->fd, name.c_str()) == 0;
  if (!ok) {
    ::unlinkat(handle_->fd, temp.c_str(), 0);
    return false;
  }
  ::fsync(handle_->fd);  // the rename itself made durable
  return true;
}

bool Folder::MoveTo(const std::string& name, const Folder& target, const std::string& newName, bool& taken) const {
  taken = false;
  if (!IsPlainName(name) || !IsPlainName(newName)) return false;
  const int from = handle_->fd;
  const int to = target.handle_->fd;
  if (::renameat2(from, name.c_str(), to, newName.c_str(), RENAME_NOREPLACE) == 0) return true;
  if (errno == EEXIST) {
    taken = true;
    return false;
  }
  if (errno != EINVAL && errno != ENOSYS) return false;
  // A file system that cannot refuse a replacement itself: look first.
  struct stat st {};
  if (::fstatat(to, newName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    taken = true;
    return false;
  }
  return ::renameat(from, name.c_str(), to, newName.c_str()) == 0;
}

bool Folder::SameVolume(const Folder& other) const {
  struct stat a {};
  struct stat b {};
  return ::fstat(handle_->fd, &a) == 0 && ::fstat(other.handle_->fd, &b) == 0 && a.st_dev == b.st_dev;
}

std::intptr_t Folder::NativeHandle() const { return handle_->fd; }

}  // namespace korbu::platform
