#pragma once
// What tells one state of a file from another without reading it: the file's
// identity on its volume and the stamps the file system moves on every change.

#include <cstdint>

#include "platform/Expected.h"
#include "platform/OpenedFile.h"

namespace korbu::platform {

struct FileStamp {
  std::uint64_t volume = 0;      // device number; the volume's serial number on Windows
  std::uint64_t fileSystem = 0;  // the file system's own id (from its UUID), 0 where none
  std::uint64_t fileHigh = 0;    // the upper half of a 128-bit file ID; 0 for an inode
  std::uint64_t fileLow = 0;     // inode number, or the lower half of the file ID
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;   // modification time, nanoseconds since 1970
  std::int64_t changedNs = 0;    // status change time (NTFS change time on Windows)
  /// The mount the file was reached through: a digest of the kernel's mount id,
  /// never handed out twice in a boot, and of the boot's id. A volume unmounted and
  /// mounted again (maybe written elsewhere in between) gets another; 0 where the
  /// system gives none (Windows).
  std::uint64_t mount = 0;
  /// The file system keeps these stamps so that no change to the file escapes
  /// them: a local file system with nanosecond (NTFS: 100 ns) change times that no
  /// user can set (ext2/3/4, XFS, Btrfs, tmpfs, F2FS, NTFS, ReFS), on a fixed disk
  /// only root may write, reached through a mount the kernel identifies. False on
  /// FAT, network and FUSE file systems, loop, removable and USB devices, devices
  /// another user may write, and anything unknown.
  bool trusted = false;

  /// Same file in the same state (trust aside).
  bool SameAs(const FileStamp& other) const {
    return volume == other.volume && fileSystem == other.fileSystem && fileHigh == other.fileHigh &&
           fileLow == other.fileLow && size == other.size && modifiedNs == other.modifiedNs &&
           changedNs == other.changedNs && mount == other.mount;
  }
};

/// The stamp of an open file, asked of its handle (never again by its name).
Expected<FileStamp> StampOf(OpenedFile& file);

/// The system's clock, nanoseconds since 1970, as the file system reads it when it
/// stamps a file: a change made after this call never gets an earlier stamp.
std::int64_t NowNs();

}  // namespace korbu::platform
