#include "platform/posix/WindowsPaths.h"

#include <dirent.h>
#include <sys/stat.h>

#include <cstdlib>
#include <memory>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/WindowsSystem.h"
#include "platform/posix/InsideRoot.h"

namespace korbu::platform::posix {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Join(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (out.empty() || out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

struct DirCloser {
  void operator()(DIR* dir) const { ::closedir(dir); }
};

// The name under which a component exists in a folder: the exact name first, else
// the first entry that equals it ignoring ASCII case. Empty when there is none.
std::string MatchEntry(const std::string& folder, const std::string& component) {
  struct stat st {};
  if (::lstat(Join(folder, component).c_str(), &st) == 0) return component;
  std::unique_ptr<DIR, DirCloser> dir(::opendir(folder.c_str()));
  if (!dir) return {};
  while (const dirent* entry = ::readdir(dir.get())) {
    if (EqualsIgnoringCase(entry->d_name, component)) return entry->d_name;
  }
  return {};
}

struct WindowsPath {
  char drive = 'c';
  std::vector<std::string> components;
};

// Splits a Windows path into its drive and its resolved components.
std::optional<WindowsPath> Parse(std::string_view path, const std::string& cwd) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  // "\\server\share" and "\\?\" device paths lead nowhere here.
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return std::nullopt;

  if (cwd.size() < 2) return std::nullopt;
  const char cwdDrive = AsciiLower(cwd[0]);
  const std::string_view cwdRest = std::string_view(cwd).substr(2);

  WindowsPath parsed;
  std::string rest;
  const bool hasDrive = path.size() >= 2 && path[1] == ':' &&
                        ((path[0] >= 'a' && path[0] <= 'z') || (path[0] >= 'A' && path[0] <= 'Z'));
  if (hasDrive) {
    parsed.drive = AsciiLower(path[0]);
    std::string_view tail = path.substr(2);
    // "C:name" is relative to the drive's current folder, which is only known for
    // the current drive; other drives start at their root.
    if (!tail.empty() && !IsSeparator(tail[0]) && parsed.drive == cwdDrive) {
      rest = std::string(cwdRest) + "\\" + std::string(tail);
    } else {
      rest = std::string(tail);
    }
    if (tail.empty() && parsed.drive == cwdDrive) rest = std::string(cwdRest);
  } else {
    parsed.drive = cwdDrive;
    rest = IsSeparator(path[0]) ? std::string(path) : std::string(cwdRest) + "\\" + std::string(path);
  }

  std::size_t i = 0;
  while (i < rest.size()) {
    while (i < rest.size() && IsSeparator(rest[i])) ++i;
    std::size_t j = i;
    while (j < rest.size() && !IsSeparator(rest[j])) ++j;
    std::string part = rest.substr(i, j - i);
    if (part == "..") {
      if (!parsed.components.empty()) parsed.components.pop_back();
    } else if (!part.empty() && part != ".") {
      parsed.components.push_back(std::move(part));
    }
    i = j;
  }
  return parsed;
}

}  // namespace

std::string RealFolder(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return {};
  struct stat st {};
  if (::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return std::string(real.get());
}

WindowsPathMap::WindowsPathMap(DriveRoot driveRoot, std::string currentDirectory, bool confined)
    : driveRoot_(std::move(driveRoot)), currentDirectory_(std::move(currentDirectory)), confined_(confined) {}

std::string WindowsPathMap::NativePath(std::string_view windowsPath) const { return Map(windowsPath, false); }

std::string WindowsPathMap::NativeFolder(std::string_view windowsPath) const { return Map(windowsPath, true); }

// A folder is resolved whole and must exist; a file path keeps its last
// component unresolved and may name something missing. Confined, every link is
// resolved inside the drive, as the system's own programs would see it.
std::string WindowsPathMap::Map(std::string_view windowsPath, bool folder) const {
  const auto parsed = Parse(windowsPath, currentDirectory_);
  if (!parsed) return {};
  std::string current = driveRoot_(parsed->drive);
  if (current.empty()) return {};
  const std::string drive = current;
  const auto Resolved = [&](const std::string& path) {
    return confined_ ? FolderInsideRoot(drive, path) : RealFolder(path);
  };

  const auto& parts = parsed->components;
  // The path of a missing entry keeps the rest as the caller wrote it.
  auto keepRest = [&](std::string base, std::size_t from) {
    for (std::size_t k = from; k < parts.size(); ++k) base = Join(base, parts[k]);
    return base;
  };
  for (std::size_t i = 0; i < parts.size(); ++i) {
    const std::string name = MatchEntry(current, parts[i]);
    if (name.empty()) return folder ? std::string() : keepRest(current, i);
    const std::string entry = Join(current, name);
    if (i + 1 == parts.size()) return folder ? Resolved(entry) : entry;
    std::string next = Resolved(entry);
    // Confined, a path kept through an entry that is no folder inside the drive
    // would be followed out of it later, when the file is opened.
    if (next.empty()) return folder || confined_ ? std::string() : keepRest(entry, i + 1);
    current = std::move(next);
  }
  return current;  // the drive's root
}

std::optional<Folder> WindowsPathMap::OpenFolder(std::string_view windowsPath) const {
  const auto parsed = Parse(windowsPath, currentDirectory_);
  if (!parsed) return std::nullopt;
  const std::string root = driveRoot_(parsed->drive);
  if (root.empty()) return std::nullopt;
  auto folder = Folder::Open(root);
  for (const std::string& part : parsed->components) {
    if (!folder) return std::nullopt;
    folder = folder->Child(SystemEntryName(*folder, part));
  }
  if (!folder) return std::nullopt;
  return std::move(*folder);
}

}  // namespace korbu::platform::posix

namespace korbu::platform {

std::string SystemEntryName(const Folder& folder, const std::string& name) {
  if (folder.Entry(name)) return name;
  std::string found = name;
  // Unlisted, the name stays as it was asked for.
  (void)folder.List("*", [&](const EntryInfo& entry) {
    if (!EqualsIgnoringCase(entry.name, name)) return true;
    found = entry.name;
    return false;
  });
  return found;
}

}  // namespace korbu::platform
