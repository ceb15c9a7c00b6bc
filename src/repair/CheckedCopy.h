#pragma once
// Copying an open file's content in blocks, checked against the digest taken
// before: a file that changes while it is copied gives no copy.

#include <cstdint>
#include <string>

#include "platform/DurableFile.h"
#include "platform/Expected.h"
#include "platform/FileSystem.h"

namespace korbu {

/// Writes the whole content of from (read from its start) into into; fails
/// unless what was written is size bytes with that SHA-256.
Status CopyCheckedContent(platform::InputFile& from, std::uint64_t size, const std::string& sha256,
                          platform::DurableFile& into);

}  // namespace korbu
