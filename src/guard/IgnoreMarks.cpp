#include "guard/IgnoreMarks.h"

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

bool IgnoreMarks::Mark(platform::OpenedFile& file, const Before& before, std::uint64_t mask) {
  if (!before.usable || !enabled_) return true;
  const int fd = file.Descriptor();
  if (!group_.IgnoreOpens(fd, mask)) {
    // No evictable marks (a kernel before 5.19) or no more marks allowed: the
    // guard answers every open itself.
    enabled_ = false;
    return false;
  }
  const Expected<platform::FileStamp> after = platform::StampOf(file);
  if (!after || !after->SameAs(before.stamp)) group_.StopIgnoringOpens(fd);
  return true;
}

}  // namespace korbu::guard
