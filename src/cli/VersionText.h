#pragma once
// The text of -V, --version: the program, the engine library and the databases
// a scan would use, read from their headers without loading them.

#include <string>
#include <vector>

namespace korbu::cli {

/// databases are the -d choices (none for the default one).
std::string VersionText(const std::vector<std::string>& databases);

}  // namespace korbu::cli
