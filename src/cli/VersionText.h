#pragma once
// The text of -V, --version: the program, the engine library and the databases
// a scan would use, read from their headers without loading them.

#include <string>

namespace korbu::cli {

/// databaseFolder is the --database choice (empty for the default one).
std::string VersionText(const std::string& databaseFolder);

}  // namespace korbu::cli
