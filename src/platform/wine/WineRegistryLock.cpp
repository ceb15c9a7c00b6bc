#include "platform/wine/WineRegistryLock.h"
#include "platform/HexText.h"

#include <linux/fs.h>
#include <sys/file.h>
#include <sys/ioctl.h>

#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/posix/PathOwnership.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform::wine {

using posix::OnlyChangeableBy;
using posix::RetryOnEintr;
using posix::UniqueFd;
namespace {

// The folder name that Debian's Wine keeps in <prefix>/wineserver: one plain name.
std::string DebianServerTmpName(const std::string& prefix) {
  auto text = ReadWholeFile(prefix + "/wineserver", ShareMode::DenyNone);
  if (!text) return {};
  std::string name = *text;
  while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) name.pop_back();
  if (name.empty() || name.size() > 255 || name == "." || name == ".." ||
      name.find_first_of(std::string_view("/\0\n", 3)) != std::string::npos)
    return {};
  return name;
}

struct ServerLock {
  std::string file;
  std::string tmpDir;  // what TMPDIR must be to find it; empty for /tmp/.wine-<uid>
};

std::vector<ServerLock> ServerLocks(const std::string& prefix, const struct stat& st) {
  const std::string serverDir = "server-" + HexNumber(static_cast<unsigned long long>(st.st_dev)) + "-" +
                                HexNumber(static_cast<unsigned long long>(st.st_ino));
  std::vector<ServerLock> locks;
  locks.push_back({"/tmp/.wine-" + std::to_string(st.st_uid) + "/" + serverDir + "/lock", std::string()});
  if (std::string name = DebianServerTmpName(prefix); !name.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    if (tmp != nullptr && tmp[0] == '/') locks.push_back({std::string(tmp) + "/" + name + "/" + serverDir + "/lock", tmp});
    locks.push_back({"/tmp/" + name + "/" + serverDir + "/lock", "/tmp"});
  }
  return locks;
}

// True when some other holder has a lock on the file, or when that cannot be told.
// Only a server's own lock counts: a regular file in a server folder of the
// prefix's owner that nobody else can change (Wine makes them so). A link or a
// folder another user made there is her word, not a server.
bool LockHeldByOther(const std::string& lockFile, uid_t owner) {
  const auto folder = OnlyChangeableBy(ExtractFilePath(lockFile), owner, false);
  if (!folder) return folder.error().code == EACCES;
  struct stat st {};
  if (::lstat(lockFile.c_str(), &st) != 0) return errno == EACCES;
  if (!S_ISREG(st.st_mode)) return false;
  UniqueFd fd(RetryOnEintr([&] { return ::open(lockFile.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK); }));
  if (!fd.Valid()) return errno != ENOENT && errno != ENOTDIR && errno != ELOOP;
  struct flock query {};
  query.l_type = F_WRLCK;
  query.l_whence = SEEK_SET;
  // An open-file-description query also sees locks held by this very process
  // through another descriptor; older kernels only have the per-process one.
  if (::fcntl(fd.Get(), F_OFD_GETLK, &query) != 0) {
    query = {};
    query.l_type = F_WRLCK;
    query.l_whence = SEEK_SET;
    if (::fcntl(fd.Get(), F_GETLK, &query) != 0) return true;
  }
  return query.l_type != F_UNLCK;
}

}  // namespace

bool WineServerRunning(const std::string& prefix) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) return true;
  for (const ServerLock& lock : ServerLocks(prefix, st))
    if (LockHeldByOther(lock.file, st.st_uid)) return true;
  return false;
}

std::string WineServerTmpDir(const std::string& prefix) {
  struct stat st {};
  if (::stat(prefix.c_str(), &st) != 0) return {};
  for (const ServerLock& lock : ServerLocks(prefix, st))
    if (LockHeldByOther(lock.file, st.st_uid)) return lock.tmpDir;
  return {};
}

Status RegistryFileSavable(const std::string& registryFile) {
  struct stat st {};
  if (::lstat(registryFile.c_str(), &st) != 0) return LastSystemError().Context(registryFile);
  UniqueFd fd(RetryOnEintr([&] { return ::open(registryFile.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); }));
  int flags = 0;
  if (fd.Valid() && ::ioctl(fd.Get(), FS_IOC_GETFLAGS, &flags) == 0) {
    if ((flags & FS_IMMUTABLE_FL) != 0) return Failure(registryFile + " is immutable");
    if ((flags & FS_APPEND_FL) != 0) return Failure(registryFile + " is append-only");
  }
  if (!S_ISREG(st.st_mode) || st.st_nlink > 1) {
    // Written in place.
    UniqueFd writable(RetryOnEintr([&] { return ::open(registryFile.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK); }));
    if (!writable.Valid()) return LastSystemError().Context(registryFile);
    return Ok();
  }
  // Replaced through a new file in its folder: try making one.
  std::string probe = ExtractFilePath(registryFile) + ".korbu-save-XXXXXX";
  const int made = ::mkstemp(probe.data());
  if (made < 0) {
    const Error error = LastSystemError();
    return Failure("no file can be made beside " + registryFile + ": " + error.reason, error.code);
  }
  ::close(made);
  ::unlink(probe.c_str());
  return Ok();
}

std::optional<RegistryWriteLock> RegistryWriteLock::Acquire(const std::string& registryFile) {
  const std::string lockFile = ExtractFilePath(registryFile) + "." + ExtractFileName(registryFile) + ".lock";
  UniqueFd fd(RetryOnEintr(
      [&] { return ::open(lockFile.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0600); }));
  if (!fd.Valid()) return std::nullopt;
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0 || !S_ISREG(st.st_mode)) return std::nullopt;
  if (RetryOnEintr([&] { return ::flock(fd.Get(), LOCK_EX); }) != 0) return std::nullopt;
  return RegistryWriteLock(fd.Release());
}

RegistryWriteLock::RegistryWriteLock(RegistryWriteLock&& other) noexcept : fd_(other.fd_) { other.fd_ = -1; }

RegistryWriteLock& RegistryWriteLock::operator=(RegistryWriteLock&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = other.fd_;
    other.fd_ = -1;
  }
  return *this;
}

RegistryWriteLock::~RegistryWriteLock() {
  if (fd_ >= 0) ::close(fd_);  // closing releases the lock
}

}  // namespace korbu::platform::wine
