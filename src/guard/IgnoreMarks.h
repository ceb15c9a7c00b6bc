#pragma once
// Files whose opens the kernel stops asking the guard about: a file judged clean
// (from the verdict cache) or one that cannot be a Windows image, as long as it
// stays as it was. The kernel clears such a mark on the file's first change,
// through whatever name or mount; what escapes that is a write through a shared
// mapping, so only files that nobody but root may write are marked, and only
// where the verdict cache trusts the volume's stamps (which also holds out the
// volumes whose bytes can change behind the kernel's back).

#include <sys/stat.h>

#include <chrono>
#include <cstdint>
#include <string>
#include <unordered_set>

#include "guard/FanotifyGroup.h"
#include "platform/FileStamp.h"
#include "platform/OpenedFile.h"

namespace korbu::guard {

/// True when nobody but root may change the file's bytes: root's, and neither its
/// group nor others may write it (with an access list, its mask in the group
/// bits bounds every named entry).
bool OnlyRootWrites(const struct stat& st);

/// Used by the event thread alone.
class IgnoreMarks {
 public:
  explicit IgnoreMarks(FanotifyGroup& group) : group_(group) {}

  /// Whether the file may be marked (st: its stat). Cheap: asked of every access.
  bool MayMark(const struct stat& st) const {
    return enabled_ && OnlyRootWrites(st) && untrusted_.count(st.st_dev) == 0 &&
           (!full_ || std::chrono::steady_clock::now() >= retryAt_);
  }

  /// The file's state before its verdict is made. The mark is set only when
  /// the file still has it after marking, so that a change made meanwhile
  /// (which the mark would not see) is never passed by.
  struct Before {
    platform::FileStamp stamp;
    bool usable = false;
  };
  Before Prepare(platform::OpenedFile& file);

  /// The verdict for before's state covers the opens in mask: marks the file.
  /// Empty, or why the guard answers every open itself from now on (the kernel
  /// keeps no such marks) or for a while (the group has all the marks it may
  /// have; some go as their inodes leave memory).
  std::string Mark(platform::OpenedFile& file, const Before& before, std::uint64_t mask);

  /// How long marking waits once the group has all the marks it may have.
  static constexpr std::chrono::seconds kFullPause{60};

  /// The file was closed after writing: what a shared mapping changed unseen
  /// counts from now on.
  void Forget(int fd) { group_.StopIgnoringOpens(fd); }

 private:
  FanotifyGroup& group_;
  bool enabled_ = true;
  bool full_ = false;
  std::chrono::steady_clock::time_point retryAt_;
  // Volumes whose stamps the verdict cache does not trust: their files are
  // never marked, and their stamps not taken again for it.
  std::unordered_set<dev_t> untrusted_;
};

}  // namespace korbu::guard
