// Folders held as descriptors: every step below the root is an openat() with
// O_NOFOLLOW, every change an *at() call relative to the held descriptor.
#include "platform/FolderHandle.h"

#include <sys/file.h>

#include <cstring>
#include <random>
#include <utility>

#include "platform/Path.h"
#include "platform/SystemError.h"
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

FileStatus StatusFromStat(const struct stat& st) {
  const EntryInfo entry = posix::EntryFromStat("", st);
  FileStatus status;
  status.kind = entry.kind;
  status.size = entry.size;
  status.lastWriteTime = entry.lastWriteTime;
  status.mode = static_cast<unsigned>(st.st_mode & 07777);
  status.owner = static_cast<std::uint32_t>(st.st_uid);
  status.group = static_cast<std::uint32_t>(st.st_gid);
  status.device = static_cast<std::uint64_t>(st.st_dev);
  status.index = static_cast<std::uint64_t>(st.st_ino);
  return status;
}

Error NotPlain(const std::string& name) { return Failure("not a plain file name: " + name, EINVAL); }

// Why an entry could not be opened as what was asked for: a link or another
// kind of entry is named as such, anything else in the system's words.
Error OpenError(int folder, const std::string& name, int error, const char* wanted) {
  struct stat st {};
  if (::fstatat(folder, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) {
    if (S_ISLNK(st.st_mode)) return Failure(name + " is a link", ELOOP);
    if (error == ENOTDIR || error == ELOOP) return Failure(name + " is not " + wanted, error);
  }
  return SystemError(error).Context(name);
}

}  // namespace

bool IsPrivateToUser(const FileStatus& status) {
  return status.owner && *status.owner == static_cast<std::uint32_t>(::geteuid()) && (status.mode & 022) == 0;
}

Status CheckTrustedFolder(const std::string& path) {
  Expected<Folder> held = Folder::Open(path);
  if (!held) return held.error();
  for (std::string at = FullPath(path);; at = at.substr(0, at.rfind('/'))) {
    if (at.empty()) at = "/";
    struct stat st {};
    if (::lstat(at.c_str(), &st) != 0) return LastSystemError().Context(at);
    if (st.st_uid != 0 && st.st_uid != ::geteuid()) {
      return Failure(at + " belongs to another user (uid " + std::to_string(st.st_uid) + ")", EPERM);
    }
    if ((st.st_mode & 022) != 0 && (st.st_mode & S_ISVTX) == 0) {
      return Failure(at + " may be written by other users and is not sticky", EPERM);
    }
    if (at == "/") return Ok();
  }
}

Expected<Folder> Folder::Open(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.empty() || full.front() != '/') return Failure("not a full path: " + path, EINVAL);
  UniqueFd fd(RetryOnEintr([] { return ::open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
  if (!fd.Valid()) return LastSystemError().Context("/");
  std::size_t start = 1;
  while (start < full.size()) {
    std::size_t end = full.find('/', start);
    if (end == std::string::npos) end = full.size();
    if (end > start) {
      const std::string component = full.substr(start, end - start);
      UniqueFd next(OpenSubfolder(fd.Get(), component.c_str()));
      if (!next.Valid()) {
        Error error = OpenError(fd.Get(), component, errno, "a folder");
        error.reason = full.substr(0, start) + error.reason;
        return error;
      }
      fd = std::move(next);
    }
    start = end + 1;
  }
  return Folder(std::make_shared<const Handle>(fd.Release()), full);
}

Expected<Folder> Folder::Child(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  UniqueFd fd(OpenSubfolder(handle_->fd, name.c_str()));
  if (!fd.Valid()) return OpenError(handle_->fd, name, errno, "a folder").Context(path_);
  return Folder(std::make_shared<const Handle>(fd.Release()), PathOf(name));
}

Expected<EntryInfo> Folder::Entry(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  struct stat st {};
  if (::fstatat(handle_->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastSystemError().Context(PathOf(name));
  return posix::EntryFromStat(name.c_str(), st);
}

Status Folder::List(const std::string& mask, const std::function<bool(const EntryInfo&)>& visit) const {
  // A description of its own, so that listings never share a position.
  return posix::ListOpenFolder(
      RetryOnEintr([&] { return ::openat(handle_->fd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC); }), mask, visit);
}

Expected<InputFile> Folder::OpenFile(const std::string& name) const {
  auto held = OpenRegular(name);
  if (!held) return held.error();
  return std::move(held->file);
}

Expected<Folder::HeldFile> Folder::OpenRegular(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(handle_->fd, name.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  if (!fd.Valid()) return OpenError(handle_->fd, name, errno, "a regular file");
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return LastSystemError().Context(name);
  if (!S_ISREG(st.st_mode)) return Failure(name + " is not a regular file", EINVAL);
  const int flags = ::fcntl(fd.Get(), F_GETFL);
  if (flags != -1) ::fcntl(fd.Get(), F_SETFL, flags & ~O_NONBLOCK);
  return HeldFile{InputFile(fd.Release(), static_cast<std::uint64_t>(st.st_size)), StatusFromStat(st)};
}

Expected<DurableFile> Folder::OpenForAppend(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  UniqueFd fd(RetryOnEintr([&] {
    return ::openat(handle_->fd, name.c_str(), O_WRONLY | O_APPEND | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC);
  }));
  if (!fd.Valid()) return OpenError(handle_->fd, name, errno, "a regular file");
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return LastSystemError().Context(name);
  if (!S_ISREG(st.st_mode)) return Failure(name + " is not a regular file", EINVAL);
  return DurableFile(fd.Release());
}

Expected<FileStatus> Folder::OwnStatus() const {
  struct stat st {};
  if (::fstat(handle_->fd, &st) != 0) return LastSystemError().Context(path_);
  return StatusFromStat(st);
}

Expected<FileStatus> Folder::StatusOf(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  struct stat st {};
  if (::fstatat(handle_->fd, name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return LastSystemError().Context(name);
  return StatusFromStat(st);
}

Status Folder::Sync() const {
  if (::fsync(handle_->fd) != 0) return LastSystemError().Context(path_);
  return Ok();
}

Status Folder::SyncWithFiles() const {
  if (::syncfs(handle_->fd) != 0) return LastSystemError().Context(path_);
  return Ok();
}

Status Folder::RemoveEmptyFolder(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  if (::unlinkat(handle_->fd, name.c_str(), AT_REMOVEDIR) != 0) return LastSystemError().Context(PathOf(name));
  return Ok();
}

Expected<Folder> Folder::MakeChild(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  if (::mkdirat(handle_->fd, name.c_str(), 0700) != 0) return LastSystemError().Context(name);
  UniqueFd fd(OpenSubfolder(handle_->fd, name.c_str()));
  if (!fd.Valid()) return OpenError(handle_->fd, name, errno, "a folder");
  return Folder(std::make_shared<const Handle>(fd.Release()), PathOf(name));
}

Expected<NewFile> Folder::BeginFile(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  std::string temp;
  UniqueFd fd = CreateTemporary(handle_->fd, name, temp);
  if (!fd.Valid()) return LastSystemError().Context("a new file beside " + name);
  return NewFile(*this, name, temp, DurableFile(fd.Release()));
}

Status Folder::SetAttributes(const std::string& name, std::uint32_t attributes) const {
  if (!IsPlainName(name)) return NotPlain(name);
  // A descriptor of the entry itself (a link is refused), then its mode through it.
  UniqueFd fd(RetryOnEintr([&] { return ::openat(handle_->fd, name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
  struct stat st {};
  if (!fd.Valid() || ::fstat(fd.Get(), &st) != 0) return LastSystemError();
  if (S_ISLNK(st.st_mode)) return Failure("it is a symbolic link, whose attributes are never set", ELOOP);
  mode_t mode = st.st_mode & 07777;
  if ((attributes & kAttrReadOnly) != 0) {
    mode &= static_cast<mode_t>(~(S_IWUSR | S_IWGRP | S_IWOTH));
  } else {
    mode |= S_IWUSR;
  }
  // fchmod refuses O_PATH descriptors; the descriptor's /proc entry names the
  // very same file without following anything.
  const std::string self = "/proc/self/fd/" + std::to_string(fd.Get());
  if (::chmod(self.c_str(), mode) != 0) return LastSystemError();
  return Ok();
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

Status Folder::DeleteFile(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  if (::unlinkat(handle_->fd, name.c_str(), 0) != 0) return LastSystemError();
  return Ok();
}

Status Folder::CreateNewFile(const std::string& name, const std::string& content) const {
  auto file = BeginFile(name);
  if (!file) return file.error();
  if (!file->Content().Write(content)) return LastSystemError().Context(PathOf(name));
  return file->Commit();
}

Status Folder::RewriteFile(const std::string& name, std::string_view content) const {
  const auto old = StatusOf(name);
  if (!old && old.error().code != ENOENT) return old.error();
  if (old && old->kind != EntryKind::Regular) return Failure(name + " is not a regular file", EINVAL);
  auto file = BeginFile(name);
  if (!file) return file.error();
  if (!file->Content().Write(content)) return LastSystemError().Context(name);
  if (old) {
    // Root rewriting a user's file leaves it the user's.
    if (const Status owned = file->GiveOwnerIfPermitted(*old->owner, *old->group); !owned) {
      return owned.error().Context(PathOf(name));
    }
    const Status mode = file->SetMode(old->mode & ~kSetIdBits);
    if (!mode) return mode;
  }
  return file->CommitReplacing();
}

Status Folder::MoveTo(const std::string& name, const Folder& target, const std::string& newName) const {
  if (!IsPlainName(name)) return NotPlain(name);
  if (!IsPlainName(newName)) return NotPlain(newName);
  const int from = handle_->fd;
  const int to = target.handle_->fd;
  const auto taken = [&] { return Error{target.PathOf(newName) + " is taken", EEXIST, ErrorKind::NameTaken}; };
  if (::renameat2(from, name.c_str(), to, newName.c_str(), RENAME_NOREPLACE) == 0) return Ok();
  if (errno == EEXIST) return taken();
  if (errno != EINVAL && errno != ENOSYS) return LastSystemError();
  // A file system that cannot refuse a replacement itself: look first.
  struct stat st {};
  if (::fstatat(to, newName.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0) return taken();
  if (::renameat(from, name.c_str(), to, newName.c_str()) != 0) return LastSystemError();
  return Ok();
}

bool Folder::SameVolume(const Folder& other) const {
  struct stat a {};
  struct stat b {};
  return ::fstat(handle_->fd, &a) == 0 && ::fstat(other.handle_->fd, &b) == 0 && a.st_dev == b.st_dev;
}

std::intptr_t Folder::NativeHandle() const { return handle_->fd; }

NewFile::~NewFile() {
  if (committed_ || file_.handle_ < 0) return;
  // Only our own file goes: whatever took the temporary name meanwhile stays.
  struct stat mine {};
  struct stat there {};
  const int folder = folder_.handle_->fd;
  if (::fstat(static_cast<int>(file_.handle_), &mine) == 0 &&
      ::fstatat(folder, tempName_.c_str(), &there, AT_SYMLINK_NOFOLLOW) == 0 && mine.st_dev == there.st_dev &&
      mine.st_ino == there.st_ino) {
    ::unlinkat(folder, tempName_.c_str(), 0);
  }
}

Status NewFile::SetOwner(std::uint32_t owner, std::uint32_t group) {
  if (::fchown(static_cast<int>(file_.handle_), static_cast<uid_t>(owner), static_cast<gid_t>(group)) != 0) {
    return LastSystemError();
  }
  return Ok();
}

Status NewFile::GiveOwnerIfPermitted(std::uint32_t owner, std::uint32_t group) {
  const Status given = SetOwner(owner, group);
  if (given) return given;
  // Not permitted, or no owners on this file system (a FUSE one may say either).
  const int code = given.error().code;
  if (code == EPERM || code == EOPNOTSUPP || code == ENOSYS) return Ok();
  return given;
}

Status NewFile::SetMode(unsigned mode) {
  if (::fchmod(static_cast<int>(file_.handle_), static_cast<mode_t>(mode & 07777)) != 0) return LastSystemError();
  return Ok();
}

Expected<FileStatus> NewFile::OwnStatus() const {
  struct stat st {};
  if (::fstat(static_cast<int>(file_.handle_), &st) != 0) return LastSystemError();
  return StatusFromStat(st);
}

Status NewFile::Finish(bool replace, bool sync) {
  if (committed_) return Ok();
  if (sync && !file_.Sync()) return LastSystemError().Context(name_);
  const int folder = folder_.handle_->fd;
  const char* from = tempName_.c_str();
  const char* to = name_.c_str();
  int moved = replace ? ::renameat(folder, from, folder, to) : ::renameat2(folder, from, folder, to, RENAME_NOREPLACE);
  if (moved != 0 && !replace && (errno == EINVAL || errno == ENOSYS)) {
    // A file system that cannot refuse a replacement by a rename: a hard link can.
    moved = ::linkat(folder, from, folder, to, 0);
    if (moved == 0) ::unlinkat(folder, from, 0);
  }
  if (moved != 0) {
    if (errno == EEXIST) return Error{"something else is already at " + folder_.PathOf(name_), EEXIST, ErrorKind::NameTaken};
    return LastSystemError().Context(folder_.PathOf(name_));
  }
  committed_ = true;
  // Whoever may write the folder could have swapped the temporary file for
  // another before it was moved: then what bears the name is not ours.
  const auto mine = OwnStatus();
  const auto there = folder_.StatusOf(name_);
  if (!mine || !there || !there->SameFile(*mine)) {
    return Failure(folder_.PathOf(name_) + " was replaced while it was being put in place", EAGAIN);
  }
  if (sync) ::fsync(folder);  // the name itself made durable
  return Ok();
}

}  // namespace korbu::platform
