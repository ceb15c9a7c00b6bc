#include "guard/NewFileFolders.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "guard/AccessLoop.h"

namespace korbu::guard {

namespace {

// So that a mount stacked on the path meanwhile is never marked in its place.
bool SameMount(int a, int b) {
  struct statx first{};
  struct statx second{};
  return ::statx(a, "", AT_EMPTY_PATH, STATX_MNT_ID, &first) == 0 &&
         ::statx(b, "", AT_EMPTY_PATH, STATX_MNT_ID, &second) == 0 && (first.stx_mask & STATX_MNT_ID) != 0 &&
         (second.stx_mask & STATX_MNT_ID) != 0 && first.stx_mnt_id == second.stx_mnt_id;
}

}  // namespace

NewFileFolders::~NewFileFolders() {
  for (const auto& [key, treated] : treated_) {
    if (!treated.opensUnasked || AskAtOpens(treated)) StopAskingAtReads(treated);
    ::close(treated.fd);
  }
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

void NewFileFolders::TreatMountOnceBusy(int fd, dev_t device, Clock::time_point now) {
  std::erase_if(recentFolders_, [&](Clock::time_point at) { return now - at > kFoldersWithin; });
  recentFolders_.push_back(now);
  if (recentFolders_.size() < kFoldersForMount) return;
  const Key key{device, 0};
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
  const std::string path = PathOfDescriptor(eventFd);
  const std::size_t slash = path.rfind('/');
  if (slash == std::string::npos || slash + 1 >= path.size() || path[0] != '/') return std::string();
  const std::string where = slash == 0 ? std::string("/") : path.substr(0, slash);
  // Opening a folder raises no event (the group asks about files alone). The
  // folder must hold the file now; renamed meanwhile, it is passed by.
  const int fd = ::open(where.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
  if (fd < 0) return std::string();
  struct stat self{};
  struct stat file{};
  if (!SameMount(fd, eventFd) || ::fstat(fd, &self) != 0 ||
      ::fstatat(fd, path.c_str() + slash + 1, &file, AT_SYMLINK_NOFOLLOW) != 0 || file.st_dev != st.st_dev ||
      file.st_ino != st.st_ino) {
    ::close(fd);
    return std::string();
  }
  const Key key{self.st_dev, self.st_ino};
  if (const auto known = treated_.find(key); known != treated_.end()) {
    // Its opens ask again, and a file was made there since.
    ::close(fd);
    Treated& folder = known->second;
    if (!folder.opensUnasked && AskAtReads(folder)) {
      folder.opensUnasked = true;
      Schedule(key, folder, now + kOpensUnasked);
      TreatMountOnceBusy(folder.fd, self.st_dev, now);
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
  TreatMountOnceBusy(fd, self.st_dev, now);
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
