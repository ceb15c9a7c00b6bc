#include "platform/FileSystem.h"

#include <sys/file.h>
#include <sys/mman.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/Wildcard.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace posix {

namespace {
// Seconds and nanoseconds since 1970 as ticks of 100 ns since 1601.
std::int64_t ToFileTime(const struct timespec& ts) {
  constexpr std::int64_t kEpochDifference = 116444736000000000LL;
  return kEpochDifference + static_cast<std::int64_t>(ts.tv_sec) * 10000000LL +
         static_cast<std::int64_t>(ts.tv_nsec) / 100;
}
}  // namespace

EntryInfo EntryFromStat(const char* name, const struct stat& st) {
  EntryInfo info;
  info.name = name;
  if (S_ISREG(st.st_mode)) {
    info.kind = EntryKind::Regular;
    info.size = static_cast<std::uint64_t>(st.st_size);
    info.attributes = kAttrArchive;
  } else if (S_ISDIR(st.st_mode)) {
    info.kind = EntryKind::Directory;
    info.attributes = kAttrDirectory;
  } else if (S_ISLNK(st.st_mode)) {
    info.kind = EntryKind::Link;
  } else {
    info.kind = EntryKind::Other;
  }
  if ((st.st_mode & S_IWUSR) == 0) info.attributes |= kAttrReadOnly;
  if (name[0] == '.') info.attributes |= kAttrHidden;
  // POSIX keeps no creation time; the status change time stands in for it.
  info.creationTime = ToFileTime(st.st_ctim);
  info.lastAccessTime = ToFileTime(st.st_atim);
  info.lastWriteTime = ToFileTime(st.st_mtim);
  return info;
}

int OpenRegularFileForReading(const char* path) {
  int fd = RetryOnEintr([&] { return ::open(path, O_RDONLY | O_NONBLOCK | O_CLOEXEC); });
  if (fd < 0) return -1;
  struct stat st {};
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd);
    return -1;
  }
  int flags = ::fcntl(fd, F_GETFL);
  if (flags != -1) ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
  return fd;
}

Status ListOpenFolder(int fd, const std::string& mask, const std::function<bool(const EntryInfo&)>& visit,
                      bool foldersOnly) {
  if (fd < 0) return LastSystemError();
  DIR* dir = ::fdopendir(fd);
  if (dir == nullptr) {
    const Error error = LastSystemError();
    ::close(fd);
    return error;
  }
  // Closed on every way out, a visitor's exception included.
  struct DirCloser {
    DIR* d;
    ~DirCloser() { ::closedir(d); }
  } closer{dir};
  const int dirFd = ::dirfd(dir);
  while (true) {
    errno = 0;
    const dirent* entry = ::readdir(dir);
    if (entry == nullptr) break;
    const char* name = entry->d_name;
    if (std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0) continue;
    if (!MatchesWildcard(name, mask)) continue;
    // The entry's type, where the file system gives it, spares a stat per file.
    if (foldersOnly && entry->d_type != DT_DIR && entry->d_type != DT_UNKNOWN) continue;
    struct stat st {};
    // An entry that vanished since the listing is simply not reported.
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0) continue;
    if (foldersOnly && !S_ISDIR(st.st_mode)) continue;
    if (!visit(EntryFromStat(name, st))) return Ok();
  }
  // The end of the listing and a failed read look alike but for errno.
  if (errno != 0) return LastSystemError();
  return Ok();
}

}  // namespace posix

using posix::RetryOnEintr;
using posix::UniqueFd;

std::optional<EntryInfo> GetEntryInfo(const std::string& path) {
  if (path.empty()) return std::nullopt;
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return std::nullopt;
  std::string name = ExtractFileName(path);
  return posix::EntryFromStat(name.c_str(), st);
}

bool FileExists(const std::string& path) {
  auto info = GetEntryInfo(path);
  return info && info->kind == EntryKind::Regular;
}

bool DirectoryExists(const std::string& path) {
  auto info = GetEntryInfo(path);
  return info && info->kind == EntryKind::Directory;
}

Status ListFolder(const std::string& folder, const std::string& mask,
                  const std::function<bool(const EntryInfo&)>& visit) {
  if (folder.empty()) return SystemError(ENOENT);
  return posix::ListOpenFolder(RetryOnEintr([&] {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }), mask, visit);
}

Status ListSubfolders(const std::string& folder, const std::function<bool(const EntryInfo&)>& visit) {
  if (folder.empty()) return SystemError(ENOENT);
  return posix::ListOpenFolder(RetryOnEintr([&] {
    return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  }), "*", visit, true);
}

Status SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) != 0) return LastSystemError();
  if (S_ISLNK(st.st_mode)) return Failure("it is a symbolic link, whose attributes are never set", ELOOP);
  mode_t mode = st.st_mode & 07777;
  if ((attributes & kAttrReadOnly) != 0) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  if (::chmod(path.c_str(), mode) != 0) return LastSystemError();
  return Ok();
}

bool CanOpenExclusively(const std::string& path) {
  UniqueFd fd(RetryOnEintr([&] {
    return ::open(path.c_str(), O_RDWR | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
  }));
  if (!fd.Valid()) return false;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  // Another holder of an exclusive or shared advisory lock makes the file "in use".
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0) return false;
  ::flock(fd.Get(), LOCK_UN);
  return true;
}

Status DeleteFile(const std::string& path) {
  if (path.empty()) return Failure("no path", EINVAL);
  if (::unlink(path.c_str()) != 0) return LastSystemError();
  return Ok();
}

Status RemoveDirectory(const std::string& path) {
  if (path.empty()) return Failure("no path", EINVAL);
  if (::rmdir(path.c_str()) != 0) return LastSystemError();
  return Ok();
}

std::optional<InputFile> InputFile::Open(const std::string& path, ShareMode share) {
  (void)share;  // POSIX has no share modes; writers are not kept out.
  int fd = posix::OpenRegularFileForReading(path.c_str());
  if (fd < 0) return std::nullopt;
  struct stat st {};
  ::fstat(fd, &st);
  return InputFile(fd, static_cast<std::uint64_t>(st.st_size));
}

InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_), size_(other.size_) {
  other.handle_ = -1;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(static_cast<int>(handle_));
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = -1;
  }
  return *this;
}

InputFile::~InputFile() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
}

std::int64_t InputFile::Read(void* buffer, std::size_t count) {
  const int fd = static_cast<int>(handle_);
  return RetryOnEintr([&] { return ::read(fd, buffer, count); });
}

std::int64_t InputFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
  const int fd = static_cast<int>(handle_);
  return RetryOnEintr([&] { return ::pread(fd, buffer, count, static_cast<off_t>(offset)); });
}

bool InputFile::Seek(std::uint64_t offset) {
  return ::lseek(static_cast<int>(handle_), static_cast<off_t>(offset), SEEK_SET) >= 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path, ShareMode share) {
  auto file = InputFile::Open(path, share);
  if (!file) return std::nullopt;
  std::string content;
  content.resize(static_cast<std::size_t>(file->Size()));
  std::size_t done = 0;
  while (done < content.size()) {
    std::int64_t got = file->Read(content.data() + done, content.size() - done);
    if (got < 0) return std::nullopt;
    if (got == 0) break;  // shrank while being read: keep what is there
    done += static_cast<std::size_t>(got);
  }
  content.resize(done);
  // A file that grew while being read is read to its new end.
  char chunk[65536];
  while (true) {
    std::int64_t got = file->Read(chunk, sizeof chunk);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    content.append(chunk, static_cast<std::size_t>(got));
  }
  return content;
}

std::optional<MappedFile> MappedFile::Open(const std::string& path) {
  UniqueFd fd(posix::OpenRegularFileForReading(path.c_str()));
  if (!fd.Valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return std::nullopt;
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (size == 0) return MappedFile(nullptr, 0);
  if (size > static_cast<std::uint64_t>(SIZE_MAX)) return std::nullopt;
  void* view = ::mmap(nullptr, static_cast<std::size_t>(size), PROT_READ, MAP_PRIVATE, fd.Get(), 0);
  if (view == MAP_FAILED) return std::nullopt;
  return MappedFile(static_cast<const unsigned char*>(view), size);
}

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::munmap(const_cast<unsigned char*>(data_), static_cast<std::size_t>(size_));
}

Status ReplaceFileAtomically(const std::string& path, const std::string& content) {
  struct stat old {};
  const bool existed = ::lstat(path.c_str(), &old) == 0;
  if (existed && !S_ISREG(old.st_mode)) return Failure("it is not a regular file", EINVAL);
  std::string temp = ExtractFilePath(path) + "." + ExtractFileName(path) + ".XXXXXX";
  UniqueFd fd(::mkstemp(temp.data()));
  if (!fd.Valid()) return LastSystemError().Context("a new file beside it");
  // The first failure is the one told; a write that takes nothing says so itself.
  Status written = Ok();
  std::size_t done = 0;
  while (written && done < content.size()) {
    ssize_t wrote = RetryOnEintr([&] { return ::write(fd.Get(), content.data() + done, content.size() - done); });
    if (wrote < 0) written = LastSystemError();
    else if (wrote == 0) written = Failure("nothing more could be written", EIO);
    else done += static_cast<std::size_t>(wrote);
  }
  if (written && existed && ::fchmod(fd.Get(), old.st_mode & 07777) != 0) written = LastSystemError();
  if (written && ::fsync(fd.Get()) != 0) written = LastSystemError();
  if (::close(fd.Release()) != 0 && written) written = LastSystemError();
  if (written && ::rename(temp.c_str(), path.c_str()) != 0) written = LastSystemError();
  if (!written) {
    ::unlink(temp.c_str());
    return written;
  }
  // Make the rename itself durable.
  UniqueFd dir(::open(ExtractFilePath(path).empty() ? "." : ExtractFilePath(path).c_str(),
                      O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (dir.Valid()) ::fsync(dir.Get());
  return Ok();
}

}  // namespace korbu::platform
