#include "guard/FanotifyGroup.h"

#include <fcntl.h>
#include <sys/fanotify.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace korbu::guard {
namespace {

Error SystemFailure(const std::string& what) {
  const int code = errno;
  return Error{what + ": " + std::generic_category().message(code), code};
}

}  // namespace

Expected<FanotifyGroup> FanotifyGroup::Create() {
  const int fd = ::fanotify_init(FAN_CLASS_CONTENT | FAN_CLOEXEC | FAN_NONBLOCK | FAN_UNLIMITED_QUEUE,
                                 O_RDONLY | O_LARGEFILE | O_CLOEXEC | O_NOATIME);
  if (fd < 0) return SystemFailure("cannot use fanotify");
  return FanotifyGroup(fd);
}

FanotifyGroup::FanotifyGroup(FanotifyGroup&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

FanotifyGroup& FanotifyGroup::operator=(FanotifyGroup&& other) noexcept {
  if (this != &other) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = std::exchange(other.fd_, -1);
  }
  return *this;
}

FanotifyGroup::~FanotifyGroup() {
  if (fd_ >= 0) ::close(fd_);
}

Status FanotifyGroup::MarkMount(const std::string& path) {
  // FAN_OPEN_PERM too: Wine opens a Windows program's image, it does not exec it.
  const std::uint64_t mask = FAN_OPEN_EXEC_PERM | FAN_OPEN_PERM | FAN_CLOSE_WRITE;
  if (::fanotify_mark(fd_, FAN_MARK_ADD | FAN_MARK_MOUNT, mask, AT_FDCWD, path.c_str()) != 0) {
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

}  // namespace korbu::guard
