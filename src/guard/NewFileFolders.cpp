#include "guard/NewFileFolders.h"

#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <optional>

#include "guard/AccessLoop.h"
#include "guard/MountTable.h"
#include "platform/FileSystem.h"

namespace korbu::guard {

namespace {

std::optional<std::uint64_t> MountIdOf(int fd) {
  struct statx status {};
  if (::statx(fd, "", AT_EMPTY_PATH | AT_STATX_DONT_SYNC, STATX_MNT_ID, &status) != 0 ||
      (status.stx_mask & STATX_MNT_ID) == 0) {
    return std::nullopt;
  }
  return status.stx_mnt_id;
}

}  // namespace

NewFileFolders::~NewFileFolders() {
  for (const auto& [key, treated] : treated_) {
    if (!treated.opensUnasked || AskAtOpens(treated)) StopAskingAtReads(treated);
    ::close(treated.fd);
  }
  for (const auto& [id, root] : mountRoots_) {
    if (root.fd >= 0) ::close(root.fd);
  }
}

const NewFileFolders::MountRoot& NewFileFolders::RootOf(std::uint64_t mountId, dev_t device) {
  if (const auto known = mountRoots_.find(mountId); known != mountRoots_.end()) {
    struct stat st {};
    if (known->second.fd < 0 || (::fstat(known->second.fd, &st) == 0 && st.st_dev == device)) return known->second;
    // The id of a mount that went, given to a new one.
    ::close(known->second.fd);
    mountRoots_.erase(known);
  }
  MountRoot root;
  const std::optional<std::string> table =
      platform::ReadWholeFile("/proc/self/mountinfo", platform::ShareMode::DenyNone);
  for (const MountEntry& mount : table ? ParseMountInfo(*table) : std::vector<MountEntry>()) {
    if (static_cast<std::uint64_t>(mount.id) != mountId) continue;
    // Opened once; the mount point of a watched mount is root's choice, and a
    // mount point cannot be renamed while mounted.
    const int fd = ::open(mount.mountPoint.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd >= 0 && MountIdOf(fd) == mountId) {
      root.fd = fd;
      root.path = mount.mountPoint;
    } else if (fd >= 0) {
      ::close(fd);
    }
    break;
  }
  return mountRoots_.emplace(mountId, std::move(root)).first->second;
}

int NewFileFolders::OpenFolderOf(int eventFd, dev_t device, const std::string& path, std::string& name,
                                 std::uint64_t& mountId) {
  const std::optional<std::uint64_t> id = MountIdOf(eventFd);
  if (!id) return -1;
  mountId = *id;
  const MountRoot& root = RootOf(mountId, device);
  if (root.fd < 0 || !IsBelow(path, root.path) || path.size() <= root.path.size()) return -1;
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 >= path.size()) return -1;
  name = path.substr(slash + 1);
  std::string relative =
      slash < root.path.size() ? std::string() : path.substr(root.path.size(), slash - root.path.size());
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  if (relative.empty()) relative = ".";
  // Within the event's mount alone, past no link: another user's folders may
  // change meanwhile, and neither a link nor a mount of hers (a file system
  // server that never answers) may lead the event thread elsewhere.
  open_how how{};
  how.flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
  how.resolve = RESOLVE_BENEATH | RESOLVE_NO_XDEV | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;
  return static_cast<int>(::syscall(SYS_openat2, root.fd, relative.c_str(), &how, sizeof how));
}

bool NewFileFolders::AskAtReads(const Treated& treated) {
  return (treated.mount ? group_.AskAtReadsOnMount(treated.fd) : group_.AskAtReadsInFolder(treated.fd)) == 0;
}

bool NewFileFolders::AskAtOpens(const Treated& treated) {
  return treated.mount ? group_.AskAtOpensOnMount(treated.fd) : group_.AskAtOpensInFolder(treated.fd);
}

void NewFileFolders::StopAskingAtReads(const Treated& treated) {
  if (treated.mount) {
    group_.StopAskingAtReadsOnMount(treated.fd);
  } else {
    group_.StopAskingAtReadsInFolder(treated.fd);
  }
}

void NewFileFolders::TreatMountOnceBusy(int fd, std::uint64_t mountId, Clock::time_point now) {
  std::erase_if(recentFolders_, [&](Clock::time_point at) { return now - at > kFoldersWithin; });
  recentFolders_.push_back(now);
  if (recentFolders_.size() < kFoldersForMount) return;
  const Key key{true, mountId, 0};
  const auto known = treated_.find(key);
  if (known != treated_.end()) {
    Treated& mount = known->second;
    if (mount.opensUnasked || !AskAtReads(mount)) return;
    mount.opensUnasked = true;
    mount.since = now;
    Schedule(key, mount, now + kMountQuiet);
    return;
  }
  const int held = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
  if (held < 0) return;
  Treated mount{held, true, 0, true, now};
  if (!AskAtReads(mount)) {
    ::close(held);
    return;
  }
  Schedule(key, treated_.emplace(key, mount).first->second, now + kMountQuiet);
}

void NewFileFolders::Schedule(const Key& key, Treated& folder, Clock::time_point at) {
  ++folder.generation;
  deadlines_.emplace(at, Due{key, folder.generation});
}

std::string NewFileFolders::Made(int eventFd, const struct stat& st, Clock::time_point now) {
  if (!enabled_ || treated_.size() >= kMostFolders) return std::string();
  std::string name;
  std::uint64_t mountId = 0;
  const int fd = OpenFolderOf(eventFd, st.st_dev, PathOfDescriptor(eventFd), name, mountId);
  if (fd < 0) return std::string();
  // The folder must hold the file now; renamed meanwhile, it is passed by.
  struct stat self {};
  struct stat file {};
  if (::fstat(fd, &self) != 0 || ::fstatat(fd, name.c_str(), &file, AT_SYMLINK_NOFOLLOW) != 0 ||
      file.st_dev != st.st_dev || file.st_ino != st.st_ino) {
    ::close(fd);
    return std::string();
  }
  const Key key{false, static_cast<std::uint64_t>(self.st_dev), static_cast<std::uint64_t>(self.st_ino)};
  if (const auto known = treated_.find(key); known != treated_.end()) {
    // Its opens ask again, and a file was made there since.
    ::close(fd);
    Treated& folder = known->second;
    if (!folder.opensUnasked && AskAtReads(folder)) {
      folder.opensUnasked = true;
      Schedule(key, folder, now + kOpensUnasked);
      TreatMountOnceBusy(folder.fd, mountId, now);
    }
    return std::string();
  }
  if (const int error = group_.AskAtReadsInFolder(fd); error != 0) {
    ::close(fd);
    if (error == ENOSPC)
      return std::string();  // the group has all the marks it may: some go in a
                             // while
    enabled_ = false;
    return "the kernel cannot ask about a folder's reads instead of its opens: "
           "each new file waits for the guard";
  }
  Treated& folder = treated_.emplace(key, Treated{fd, true, 0, false, now}).first->second;
  Schedule(key, folder, now + kOpensUnasked);
  TreatMountOnceBusy(fd, mountId, now);
  return std::string();
}

void NewFileFolders::EndDue(Clock::time_point now) {
  while (!deadlines_.empty() && deadlines_.begin()->first <= now) {
    const Due due = deadlines_.begin()->second;
    deadlines_.erase(deadlines_.begin());
    const auto it = treated_.find(due.folder);
    if (it == treated_.end() || it->second.generation != due.generation) continue;
    Treated& treated = it->second;
    if (treated.opensUnasked && treated.mount && now - lastWritten_ < kMountQuiet &&
        now - treated.since < kMountLongest) {
      // Still being written to: its new files would all wait again.
      Schedule(due.folder, treated, std::min(lastWritten_ + kMountQuiet, treated.since + kMountLongest));
    } else if (treated.opensUnasked) {
      // Until opens ask again, reads must go on asking: tried again later.
      if (AskAtOpens(treated)) treated.opensUnasked = false;
      Schedule(due.folder, treated, now + (treated.opensUnasked ? kOpensUnasked : kReadsAskedAfter));
    } else {
      StopAskingAtReads(treated);
      ::close(treated.fd);
      treated_.erase(it);
    }
  }
}

bool NewFileFolders::NextDeadline(Clock::time_point& next) const {
  if (deadlines_.empty()) return false;
  next = deadlines_.begin()->first;
  return true;
}

}  // namespace korbu::guard
