#include "guard/FanotifyGroup.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <system_error>
#include <utility>
#include <vector>

namespace korbu::guard {
namespace {

constexpr std::uint64_t kOpens = FAN_OPEN_EXEC_PERM | FAN_OPEN_PERM;
constexpr std::uint64_t kAccesses = kOpens | FAN_ACCESS_PERM;
constexpr std::uint64_t kChildOpens = FAN_OPEN_PERM | FAN_EVENT_ON_CHILD;
constexpr std::uint64_t kChildReads = FAN_ACCESS_PERM | FAN_EVENT_ON_CHILD;
// Only the new kind of ignore mask applies to a folder's files; a folder's must
// outlive their changes.
constexpr unsigned int kIgnoreInFolder = FAN_MARK_IGNORE | FAN_MARK_IGNORED_SURV_MODIFY;

Error SystemFailure(const std::string& what) {
  const int code = errno;
  return Error{what + ": " + std::generic_category().message(code), code};
}

// Reads ask (reads, on the object of scope) before opens stop asking (the
// second change): never a moment with neither. 0, or the kernel's error, with
// the first change undone.
int AskAtReadsFirst(int group, int fd, unsigned int scope, std::uint64_t reads, unsigned int stopFlags,
                    std::uint64_t stopMask) {
  if (::fanotify_mark(group, FAN_MARK_ADD | scope, reads, fd, nullptr) != 0) return errno;
  if (::fanotify_mark(group, stopFlags | scope, stopMask, fd, nullptr) != 0) {
    const int error = errno;
    (void)::fanotify_mark(group, FAN_MARK_REMOVE | scope, reads, fd, nullptr);
    return error;
  }
  return 0;
}

int MakeGroup(unsigned int kind) {
  return ::fanotify_init(kind | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE,
                         O_RDONLY | O_LARGEFILE | O_CLOEXEC | O_NOATIME);
}

}  // namespace

Expected<FanotifyGroup> FanotifyGroup::Create() {
  const int fd = MakeGroup(FAN_CLASS_CONTENT);
  if (fd < 0) return SystemFailure("cannot use fanotify");
  const int writtenFd = MakeGroup(FAN_CLASS_NOTIF);
  if (writtenFd < 0) {
    const Error failure = SystemFailure("cannot use fanotify");
    ::close(fd);
    return failure;
  }
  return FanotifyGroup(fd, writtenFd);
}

FanotifyGroup::FanotifyGroup(FanotifyGroup&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)), writtenFd_(std::exchange(other.writtenFd_, -1)) {}

FanotifyGroup& FanotifyGroup::operator=(FanotifyGroup&& other) noexcept {
  if (this != &other) {
    Close();
    fd_ = std::exchange(other.fd_, -1);
    writtenFd_ = std::exchange(other.writtenFd_, -1);
  }
  return *this;
}

FanotifyGroup::~FanotifyGroup() { Close(); }

void FanotifyGroup::Close() {
  if (fd_ >= 0) ::close(fd_);
  if (writtenFd_ >= 0) ::close(writtenFd_);
  fd_ = writtenFd_ = -1;
}

Status FanotifyGroup::MarkMount(const std::string& path) {
  // FAN_OPEN_PERM too: Wine opens a Windows program's image, it does not exec it.
  if (::fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_MOUNT, kOpens, AT_FDCWD, path.c_str()) != 0 ||
      ::fanotify_mark(writtenFd_, FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_CLOSE_WRITE, AT_FDCWD, path.c_str()) != 0) {
    return SystemFailure("cannot watch " + path);
  }
  return Ok();
}

Status FanotifyGroup::Answer(int eventFd, bool allow) {
  const fanotify_response response{eventFd, static_cast<std::uint32_t>(allow ? FAN_ALLOW : FAN_DENY)};
  const ssize_t written = ::write(fd_, &response, sizeof response);
  if (written != static_cast<ssize_t>(sizeof response)) return SystemFailure("cannot answer an access");
  return Ok();
}

void FanotifyGroup::AnswerAll(const fanotify_response* responses, std::size_t count) {
  // The kernel takes one answer per write; writev hands it several at once and
  // stops at the first it refuses, which is passed by.
  constexpr std::size_t kAtOnce = IOV_MAX;
  std::vector<iovec> vectors(std::min(count, kAtOnce));
  std::size_t done = 0;
  while (done < count) {
    const std::size_t now = std::min(count - done, kAtOnce);
    for (std::size_t i = 0; i < now; ++i) {
      vectors[i] = iovec{const_cast<fanotify_response*>(&responses[done + i]), sizeof(fanotify_response)};
    }
    const ssize_t written = ::writev(fd_, vectors.data(), static_cast<int>(now));
    if (written < 0 && errno == EINTR) continue;
    const std::size_t taken = written > 0 ? static_cast<std::size_t>(written) / sizeof(fanotify_response) : 0;
    done += taken < now ? taken + 1 : taken;
  }
}

int FanotifyGroup::IgnoreOpens(int fd, std::uint64_t mask) {
  // Evictable: the mark holds no inode in memory, and goes with it. Without
  // FAN_MARK_IGNORED_SURV_MODIFY the kernel clears it on the file's first change.
  const int marked =
      ::fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_IGNORED_MASK | FAN_MARK_EVICTABLE, mask & kAccesses, fd, nullptr);
  return marked == 0 ? 0 : errno;
}

void FanotifyGroup::StopIgnoringOpens(int fd) {
  (void)::fanotify_mark(fd_, FAN_MARK_REMOVE | FAN_MARK_IGNORED_MASK, kAccesses, fd, nullptr);
}

int FanotifyGroup::AskAtReadsInFolder(int dirFd) {
  return AskAtReadsFirst(fd_, dirFd, 0, kChildReads, FAN_MARK_ADD | kIgnoreInFolder, kChildOpens);
}

bool FanotifyGroup::AskAtOpensInFolder(int dirFd) {
  return ::fanotify_mark(fd_, FAN_MARK_REMOVE | kIgnoreInFolder, kChildOpens, dirFd, nullptr) == 0 ||
         errno == ENOENT;
}

void FanotifyGroup::StopAskingAtReadsInFolder(int dirFd) {
  (void)::fanotify_mark(fd_, FAN_MARK_REMOVE, kChildReads, dirFd, nullptr);
}

int FanotifyGroup::AskAtReadsOnMount(int fd) {
  return AskAtReadsFirst(fd_, fd, FAN_MARK_MOUNT, FAN_ACCESS_PERM, FAN_MARK_REMOVE, FAN_OPEN_PERM);
}

bool FanotifyGroup::AskAtOpensOnMount(int fd) {
  return ::fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_MOUNT, FAN_OPEN_PERM, fd, nullptr) == 0;
}

void FanotifyGroup::StopAskingAtReadsOnMount(int fd) {
  (void)::fanotify_mark(fd_, FAN_MARK_REMOVE | FAN_MARK_MOUNT, FAN_ACCESS_PERM, fd, nullptr);
}

}  // namespace korbu::guard
