#include "guard/MountWatcher.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

namespace korbu::guard {

MountWatcher::MountWatcher(std::vector<std::string> folders, std::function<void(const std::string&)> onNew)
    : folders_(std::move(folders)), onNew_(std::move(onNew)) {}

MountWatcher::~MountWatcher() {
  if (fd_ >= 0) ::close(fd_);
}

Status MountWatcher::Open() {
  fd_ = ::open("/proc/self/mountinfo", O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) return Failure("cannot read /proc/self/mountinfo: " + std::generic_category().message(errno), errno);
  for (const MountEntry& mount : ParseMountInfo(Read())) known_.insert(mount.id);
  return Ok();
}

std::string MountWatcher::Read() {
  std::string text;
  char buffer[16384];
  ssize_t got = 0;
  off_t offset = 0;
  while ((got = ::pread(fd_, buffer, sizeof buffer, offset)) > 0) {
    text.append(buffer, static_cast<std::size_t>(got));
    offset += got;
  }
  return text;
}

void MountWatcher::Changed() {
  std::set<int> now;
  for (const MountEntry& mount : ParseMountInfo(Read())) {
    now.insert(mount.id);
    if (known_.count(mount.id) == 0 && IsRemovable(mount, folders_)) onNew_(mount.mountPoint);
  }
  known_ = std::move(now);
}

VolumeWalks::~VolumeWalks() {
  stop_ = true;
  for (std::thread& walk : walks_) walk.join();
}

void VolumeWalks::Start(const std::string& mountPoint) {
  walks_.emplace_back([this, mountPoint] {
    namespace fs = std::filesystem;
    struct stat top {};
    if (::lstat(mountPoint.c_str(), &top) != 0) return;
    std::error_code error;
    fs::recursive_directory_iterator it(mountPoint, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::recursive_directory_iterator() && !stop_; it.increment(error)) {
      struct stat st {};
      if (::lstat(it->path().c_str(), &st) != 0) continue;
      if (st.st_dev != top.st_dev) {
        if (S_ISDIR(st.st_mode)) it.disable_recursion_pending();
        continue;
      }
      if (S_ISREG(st.st_mode)) judge_(it->path().string());
    }
  });
}

}  // namespace korbu::guard
