#pragma once
// Whether a path could be changed by anyone but root and one user: what makes a
// prefix, a server folder or a lock file another user's word rather than its
// owner's.

#include <sys/stat.h>
#include <sys/types.h>

#include <string>

#include "platform/Expected.h"

namespace korbu::platform::posix {

/// Walks an absolute path from "/" without following any link and checks that
/// every folder on the way is root's or owner's and writable by nobody else, and
/// that the path itself is owner's (or root's when rootMayOwn) and writable by
/// nobody else. A folder on the way that is root's and sticky (/tmp) passes, as
/// only an entry's owner may replace the entry there. The last entry's status
/// when all holds, else the reason.
Expected<struct stat> OnlyChangeableBy(const std::string& path, uid_t owner, bool rootMayOwn = true);

}  // namespace korbu::platform::posix
