#pragma once
// Whether a file system's stamps tell every change of its files: only when its
// bytes cannot change behind the kernel's back while it is mounted. They can on a
// device another user may write, on one that is easily taken away and written
// elsewhere (removable, USB or SD, a loop image, a network block device), and
// over a network or FUSE, whose server stamps as it pleases.

#include <sys/stat.h>
#include <sys/statfs.h>

#include <cstdint>

namespace korbu::platform::posix {

/// The identity of the mount the open file was reached through, never the same
/// for two mounts in a boot nor across boots (the kernel's unique mount id mixed
/// with the boot's id); 0 when the kernel gives no unique mount id.
std::uint64_t MountIdentity(int fd);

/// True when only root, through the kernel of this boot, can change the bytes of
/// the file system st and fs describe (the file's stat and statfs records) while
/// mount lasts. Decided once per mount.
bool StampsHoldOn(int fd, std::uint64_t mount, const struct stat& st, const struct statfs& fs);

}  // namespace korbu::platform::posix
