#pragma once
// The PATHs of -f, --file-list: one a line, as clamscan reads them.

#include <string>
#include <vector>

#include "platform/Expected.h"

namespace korbu::cli {

/// The lines of the file, each a PATH taken literally; empty lines are none and a
/// line may end as on Windows. The reason when the file cannot be read.
Expected<std::vector<std::string>> ReadFileList(const std::string& file);

}  // namespace korbu::cli
