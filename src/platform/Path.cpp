// Portable path helpers; the OS parts (current directory, executable) are in the
// backend folders.
#include "platform/Path.h"

#include <vector>

#include "platform/AsciiCase.h"

namespace korbu::platform {

bool IsPathDelimiter(char c) {
#ifdef _WIN32
  return c == '\\' || c == '/' || c == ':';
#else
  return c == '/';
#endif
}

std::string IncludeTrailingDelimiter(std::string path) {
  if (!path.empty() && path.back() != kPathDelim) path.push_back(kPathDelim);
  return path;
}

std::string ExtractFilePath(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathDelimiter(path[i - 1])) return std::string(path.substr(0, i));
  }
  return {};
}

std::string ExtractFileName(std::string_view path) {
  for (std::size_t i = path.size(); i > 0; --i) {
    if (IsPathDelimiter(path[i - 1])) return std::string(path.substr(i));
  }
  return std::string(path);
}

namespace {

// A current directory to resolve against: one that is itself absolute. A folder
// removed while current has none, and resolving against its empty name would
// recurse without end.
bool IsAbsoluteBase(const std::string& base) {
#ifdef _WIN32
  return (base.size() >= 3 && base[1] == ':' && IsPathDelimiter(base[2])) ||
         (base.size() >= 2 && (base[0] == '\\' || base[0] == '/') && (base[1] == '\\' || base[1] == '/'));
#else
  return !base.empty() && base[0] == '/';
#endif
}

}  // namespace

std::string FullPath(std::string_view path) {
  if (path.empty()) return {};
  std::string prefix;
  std::string_view rest = path;
#ifdef _WIN32
  if (rest.size() >= 2 && rest[1] == ':') {
    prefix = std::string(rest.substr(0, 2));
    rest.remove_prefix(2);
  }
  const bool absolute = !rest.empty() && (rest[0] == '\\' || rest[0] == '/');
  if (!absolute || prefix.empty()) {
    std::string base = CurrentDirectory();
    if (!IsAbsoluteBase(base)) return {};
    if (!absolute) return FullPath(IncludeTrailingDelimiter(base) + std::string(rest));
    prefix = base.substr(0, 2);
  }
#else
  if (rest[0] != '/') {
    const std::string base = CurrentDirectory();
    if (!IsAbsoluteBase(base)) return {};
    return FullPath(IncludeTrailingDelimiter(base) + std::string(path));
  }
#endif
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && (rest[i] == kPathDelim || rest[i] == '/')) ++i;
    std::size_t j = i;
    while (j < rest.size() && rest[j] != kPathDelim && rest[j] != '/') ++j;
    std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parts.empty()) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j;
  }
  std::string out = prefix;
  for (auto part : parts) {
    out.push_back(kPathDelim);
    out.append(part);
  }
  // Keep a final separator the caller gave: folder paths stay folder paths.
  if (parts.empty() || (rest.back() == kPathDelim || rest.back() == '/')) out.push_back(kPathDelim);
  return out;
}

}  // namespace korbu::platform

namespace korbu::platform {

bool SameFileName(std::string_view a, std::string_view b) {
#ifdef _WIN32
  return EqualsIgnoringCase(a, b);
#else
  return a == b;
#endif
}

}  // namespace korbu::platform
