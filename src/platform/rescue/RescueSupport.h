#pragma once
// The only door to the system and libhivex headers for the rescue backend (a
// Windows installation mounted on this system), beside the POSIX backend's own.

#include <hivex.h>
#include <sys/mman.h>
#include <sys/statvfs.h>
#include <sys/xattr.h>

#include <string>

#include "platform/posix/PosixSupport.h"

namespace korbu::platform::rescue {

/// A path that reaches an open descriptor's file without any name lookup, for
/// libraries that take only paths (libhivex).
inline std::string DescriptorPath(int fd) { return "/proc/self/fd/" + std::to_string(fd); }

}  // namespace korbu::platform::rescue
