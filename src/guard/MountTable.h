#pragma once
// The mounts of /proc/self/mountinfo as the guard needs them, and which of them
// are removable volumes.

#include <string>
#include <vector>

namespace korbu::guard {

struct MountEntry {
  int id = 0;
  unsigned major = 0, minor = 0;
  std::string mountPoint;  // with the kernel's octal escapes undone
  std::string type;
};

/// The mounts listed in mountinfo's text; lines that are not one are left out.
std::vector<MountEntry> ParseMountInfo(const std::string& text);

/// True for a file system whose reads a server answers (FUSE, network).
bool AnsweredByAServer(const std::string& type);

/// True, unless a server answers its reads, for a mount of a block device the kernel calls removable (the device or
/// the disk it is a partition of), or one whose mount point lies below one of
/// folders.
bool IsRemovable(const MountEntry& mount, const std::vector<std::string>& folders);

/// True when path is folder or lies below it.
bool IsBelow(const std::string& path, const std::string& folder);

}  // namespace korbu::guard
