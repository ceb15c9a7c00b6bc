#include "platform/win32/WindowsSupport.h"

#include <vector>

#include "platform/Path.h"

namespace korbu::platform::win32 {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// "server\share\a\..\b" as "server\share\b": ".." never climbs above the share.
std::string NetworkPath(std::string_view rest) {
  std::vector<std::string_view> parts;
  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    const std::string_view part = rest.substr(i, j - i);
    if (part == "..") {
      if (parts.size() > 2) parts.pop_back();
    } else if (!part.empty() && part != ".") {
      parts.push_back(part);
    }
    i = j;
  }
  std::string out;
  for (std::string_view part : parts) {
    if (!out.empty()) out.push_back('\\');
    out.append(part);
  }
  if (!rest.empty() && IsSeparator(rest.back())) out.push_back('\\');
  return out;
}

}  // namespace

std::optional<std::wstring> WidePath(std::string_view path) {
  // Bytes that come back other than they went are no name of the system's: taken
  // as U+FFFD they could name another file.
  if (path.empty() || path.find('\0') != std::string_view::npos || Utf8(Wide(path)) != path) {
    ::SetLastError(ERROR_INVALID_NAME);
    return std::nullopt;
  }
  if (path.size() >= 4 && IsSeparator(path[0]) && IsSeparator(path[1]) && (path[2] == '?' || path[2] == '.') &&
      IsSeparator(path[3])) {
    return Wide(path);  // already a form the system takes as it is
  }
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) {
    return Wide("\\\\?\\UNC\\" + NetworkPath(path.substr(2)));
  }
  const std::string full = FullPath(path);
  return Wide(full.size() >= 3 && full[1] == ':' ? "\\\\?\\" + full : std::string(path));
}

EntryKind EntryKindOf(DWORD attributes) {
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return EntryKind::Link;
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return EntryKind::Directory;
  if ((attributes & FILE_ATTRIBUTE_DEVICE) != 0) return EntryKind::Other;
  return EntryKind::Regular;
}

}  // namespace korbu::platform::win32
