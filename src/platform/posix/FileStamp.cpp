#include "platform/FileStamp.h"

#include <sys/statfs.h>

#include <cstring>
#include <ctime>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

// File systems whose change time only the kernel sets, to the nanosecond, and
// whose inode numbers stay with a file for its life.
bool TrustedType(decltype(statfs::f_type) type) {
  switch (static_cast<unsigned long>(type)) {
    case 0xEF53UL:      // ext2, ext3, ext4
    case 0x58465342UL:  // XFS
    case 0x9123683EUL:  // Btrfs
    case 0x01021994UL:  // tmpfs
    case 0xF2F52010UL:  // F2FS
    case 0x2FC12FC1UL:  // ZFS
      return true;
    default:
      return false;
  }
}

std::int64_t Ns(const timespec& t) {
  return static_cast<std::int64_t>(t.tv_sec) * 1000000000LL + static_cast<std::int64_t>(t.tv_nsec);
}

}  // namespace

Expected<FileStamp> StampOf(OpenedFile& file) {
  const int fd = file.Descriptor();
  if (fd < 0) return Failure("the file is not open");
  struct stat st {};
  if (::fstat(fd, &st) != 0) return LastSystemError();
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return LastSystemError();
  FileStamp stamp;
  stamp.volume = static_cast<std::uint64_t>(st.st_dev);
  std::uint64_t fsid = 0;
  static_assert(sizeof fs.f_fsid == sizeof fsid);
  std::memcpy(&fsid, &fs.f_fsid, sizeof fsid);
  stamp.fileSystem = fsid;
  stamp.fileLow = static_cast<std::uint64_t>(st.st_ino);
  stamp.size = static_cast<std::uint64_t>(st.st_size);
  stamp.modifiedNs = Ns(st.st_mtim);
  stamp.changedNs = Ns(st.st_ctim);
  stamp.trusted = S_ISREG(st.st_mode) && TrustedType(fs.f_type);
  return stamp;
}

std::int64_t NowNs() {
  timespec now{};
  // The coarse clock is the one the kernel stamps files with: a change made after
  // this call never gets an earlier stamp than its result.
  ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
  return Ns(now);
}

}  // namespace korbu::platform
