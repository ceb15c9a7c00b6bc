#include "cli/PathFilter.h"

#include <algorithm>

namespace korbu::cli {
namespace {

bool Compile(const std::vector<std::string>& texts, const char* option, std::vector<std::regex>& out,
             std::string& error) {
  for (const std::string& text : texts) {
    try {
      out.emplace_back(text, std::regex::extended | std::regex::nosubs | std::regex::optimize);
    } catch (const std::regex_error& e) {
      error = std::string("option ") + option + ": not a valid expression: " + text + " (" + e.what() + ")";
      return false;
    }
  }
  return true;
}

bool AnyFound(const std::vector<std::regex>& patterns, const std::string& path) {
  return std::any_of(patterns.begin(), patterns.end(),
                     [&](const std::regex& r) { return std::regex_search(path, r); });
}

}  // namespace

std::optional<PathFilter> PathFilter::Compile(const PathPatterns& patterns, std::string& error) {
  PathFilter filter;
  if (!cli::Compile(patterns.excludeFiles, "--exclude", filter.excludeFiles_, error) ||
      !cli::Compile(patterns.excludeFolders, "--exclude-dir", filter.excludeFolders_, error) ||
      !cli::Compile(patterns.includeFiles, "--include", filter.includeFiles_, error) ||
      !cli::Compile(patterns.includeFolders, "--include-dir", filter.includeFolders_, error)) {
    return std::nullopt;
  }
  return filter;
}

bool PathFilter::FileWanted(const std::string& path) const {
  if (AnyFound(excludeFiles_, path)) return false;
  return includeFiles_.empty() || AnyFound(includeFiles_, path);
}

bool PathFilter::FolderWanted(const std::string& folder) const {
  if (AnyFound(excludeFolders_, folder)) return false;
  return includeFolders_.empty() || AnyFound(includeFolders_, folder);
}

bool PathFilter::Empty() const {
  return excludeFiles_.empty() && excludeFolders_.empty() && includeFiles_.empty() && includeFolders_.empty();
}

}  // namespace korbu::cli
