#include "guard/IgnoreMarks.h"

#include <cerrno>

namespace korbu::guard {

bool OnlyRootWrites(const struct stat& st) {
  return S_ISREG(st.st_mode) && st.st_uid == 0 && (st.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

IgnoreMarks::Before IgnoreMarks::Prepare(platform::OpenedFile& file) {
  Before before;
  Expected<platform::FileStamp> stamp = platform::StampOf(file);
  if (stamp && !stamp->trusted) untrusted_.insert(static_cast<dev_t>(stamp->volume));
  // A file changed in the clock tick its stamp was taken in could change again
  // in that tick and keep the stamp: the verdict cache's own rule.
  if (!stamp || !stamp->trusted || stamp->changedNs >= platform::NowNs()) return before;
  before.stamp = *stamp;
  before.usable = true;
  return before;
}

std::string IgnoreMarks::Mark(platform::OpenedFile& file, const Before& before, std::uint64_t mask) {
  if (!before.usable || !enabled_) return std::string();
  const int fd = file.Descriptor();
  const int error = group_.IgnoreOpens(fd, mask);
  if (error == ENOSPC) {
    const bool told = full_;
    full_ = true;
    retryAt_ = std::chrono::steady_clock::now() + kFullPause;
    return told ? std::string() : "the kernel keeps no more ignore marks for now: the guard answers every open itself";
  }
  if (error != 0) {
    enabled_ = false;
    return "the kernel keeps no evictable ignore marks: the guard answers every open itself";
  }
  full_ = false;
  const Expected<platform::FileStamp> after = platform::StampOf(file);
  if (!after || !after->SameAs(before.stamp)) group_.StopIgnoringOpens(fd);
  return std::string();
}

}  // namespace korbu::guard
