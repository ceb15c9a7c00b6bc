#pragma once
// --exclude, --exclude-dir, --include and --include-dir: which walked files and
// folders are scanned. std::regex with its POSIX extended grammar, the same on
// every platform (MinGW has no <regex.h>); a pattern is found anywhere in the path.

#include <optional>
#include <regex>
#include <string>
#include <vector>

#include "cli/CommandLine.h"

namespace korbu::cli {

class PathFilter {
 public:
  /// The compiled patterns; empty with error set when one is not a valid expression.
  static std::optional<PathFilter> Compile(const PathPatterns& patterns, std::string& error);

  /// A walked file, by its full path.
  bool FileWanted(const std::string& path) const;
  /// A subfolder of the walk, by its full path ending in the separator.
  bool FolderWanted(const std::string& folder) const;

  bool Empty() const;

 private:
  std::vector<std::regex> excludeFiles_, excludeFolders_, includeFiles_, includeFolders_;
};

}  // namespace korbu::cli
