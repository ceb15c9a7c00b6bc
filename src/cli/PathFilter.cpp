#include "cli/PathFilter.h"

#include <algorithm>
#include <string>

#include "platform/Path.h"

namespace korbu::cli {
namespace {

#ifdef _WIN32
constexpr bool kIgnoreCase = true;  // names there are found whatever their case
#else
constexpr bool kIgnoreCase = false;
#endif

// The folder as clamscan names it: no trailing separator, except for a root.
std::string_view WithoutTrailingSeparator(std::string_view folder) {
  while (folder.size() > 1 && folder.back() == platform::kPathDelim) folder.remove_suffix(1);
  return folder;
}

}  // namespace

Status PathFilter::Add(const std::vector<std::string>& texts, const char* option, std::vector<Compiled>& out) {
  for (const std::string& text : texts) {
    Expected<PathPattern> pattern = PathPattern::Compile(text, kIgnoreCase);
    if (!pattern) {
      return Failure(std::string("option ") + option + ": not a valid expression: " + text + " (" +
                     pattern.error().reason + ")");
    }
    out.push_back({std::move(*pattern), text.back() == platform::kPathDelim});
  }
  return Ok();
}

Expected<PathFilter> PathFilter::Compile(const PathPatterns& patterns) {
  PathFilter filter;
  for (Status added : {Add(patterns.excludeFiles, "--exclude", filter.excludeFiles_),
                       Add(patterns.excludeFolders, "--exclude-dir", filter.excludeFolders_),
                       Add(patterns.includeFiles, "--include", filter.includeFiles_),
                       Add(patterns.includeFolders, "--include-dir", filter.includeFolders_)}) {
    if (!added) return added.error();
  }
  return filter;
}

bool PathFilter::AnyFound(const std::vector<Compiled>& patterns, std::string_view path) {
  std::string withSeparator;
  return std::any_of(patterns.begin(), patterns.end(), [&](const Compiled& p) {
    if (!p.endsInSeparator || (!path.empty() && path.back() == platform::kPathDelim)) return p.pattern.Found(path);
    if (withSeparator.empty()) withSeparator = std::string(path) + platform::kPathDelim;
    return p.pattern.Found(withSeparator);
  });
}

bool PathFilter::FileWanted(std::string_view path) const {
  if (AnyFound(excludeFiles_, path)) return false;
  return includeFiles_.empty() || AnyFound(includeFiles_, path);
}

bool PathFilter::FolderWanted(std::string_view folder) const {
  folder = WithoutTrailingSeparator(folder);
  if (AnyFound(excludeFolders_, folder)) return false;
  return includeFolders_.empty() || AnyFound(includeFolders_, folder);
}

bool PathFilter::Empty() const {
  return excludeFiles_.empty() && excludeFolders_.empty() && includeFiles_.empty() && includeFolders_.empty();
}

}  // namespace korbu::cli
