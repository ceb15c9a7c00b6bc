#pragma once
// Resolving a path below a folder as if that folder were "/": a mounted volume's
// links mean what they would on the volume's own system, and none leads out.

#include <string>

#include "platform/OpenedFile.h"

namespace korbu::platform::posix {

/// The link-free native path of the folder at path, a path inside root, every
/// link on the way resolved with root as "/" (the kernel's RESOLVE_IN_ROOT; where
/// the kernel has none, a path whose links lead out of root is refused). Empty
/// unless it names a folder inside root.
std::string FolderInsideRoot(const std::string& root, const std::string& path);

/// The regular file at path, a path inside root, opened as OpenedFile::Open
/// opens it but with every link on the way resolved with root as "/" (where the
/// kernel has no RESOLVE_IN_ROOT: opened by name and kept only when the file
/// opened lies inside root). The check is the open: nothing swapped in later
/// is read.
OpenedFile OpenFileInsideRoot(const std::string& root, const std::string& path);

}  // namespace korbu::platform::posix
