#pragma once
// --exclude, --exclude-dir, --include and --include-dir: which files and folders,
// named on the command line or met by the walk, are scanned. Each pattern is a
// PathPattern found anywhere in the full path, as clamscan finds its patterns: a
// folder is named without a trailing separator, and a pattern that ends in the
// separator is matched against the path with one appended. Letter case counts,
// except on Windows.

#include <string_view>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/PathPattern.h"
#include "platform/Expected.h"

namespace korbu::cli {

class PathFilter {
 public:
  /// The compiled patterns, or which one is not a valid expression and why.
  static Expected<PathFilter> Compile(const PathPatterns& patterns);

  /// A file by its full path.
  bool FileWanted(std::string_view path) const;
  /// A folder by its full path, with or without the trailing separator.
  bool FolderWanted(std::string_view folder) const;

  bool Empty() const;

 private:
  struct Compiled {
    PathPattern pattern;
    bool endsInSeparator = false;
  };
  static Status Add(const std::vector<std::string>& texts, const char* option, std::vector<Compiled>& out);
  static bool AnyFound(const std::vector<Compiled>& patterns, std::string_view path);

  std::vector<Compiled> excludeFiles_, excludeFolders_, includeFiles_, includeFolders_;
};

}  // namespace korbu::cli
