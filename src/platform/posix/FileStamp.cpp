#include "platform/FileStamp.h"

#include <sys/statfs.h>

#include <cstring>
#include <ctime>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/VolumeTrust.h"

namespace korbu::platform {
namespace {

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
  stamp.mount = posix::MountIdentity(fd);
  stamp.trusted = S_ISREG(st.st_mode) && posix::StampsHoldOn(fd, stamp.mount, st, fs);
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
