// The Windows system of a Wine prefix: drives are the links in <prefix>/dosdevices,
// and names below them are matched the way Wine matches them.
#include "platform/WindowsSystem.h"

#include <cstdlib>
#include <memory>
#include <optional>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/Registry.h"
#include "platform/posix/InsideRoot.h"
#include "platform/posix/PosixSupport.h"
#include "platform/wine/WinePrefix.h"
#include "platform/rescue/VolumeSystem.h"

namespace korbu::platform {
namespace {

// Wine keeps its Windows folder here in every prefix, and starts programs in the
// system folder.
constexpr std::string_view kWindowsDirectory = "C:\\windows";
constexpr std::string_view kSystemDirectory = "C:\\windows\\system32";
// Wine keeps the resolved folders of the user under Explorer's "Shell Folders".
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

std::string Join(const std::string& folder, std::string_view name) {
  std::string out = folder;
  if (out.empty() || out.back() != '/') out.push_back('/');
  out.append(name);
  return out;
}

// The canonical form of a folder (links followed); empty unless it is a directory.
std::string RealFolder(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return {};
  struct stat st {};
  if (::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode)) return {};
  return std::string(real.get());
}

// The native folder behind a drive letter (already lower case).
std::string DriveRoot(const std::string& prefix, char letter) {
  const std::string device = prefix + "/dosdevices/" + letter + ":";
  struct stat st {};
  if (::lstat(device.c_str(), &st) == 0) return RealFolder(device);
  // A prefix that never got its dosdevices links still has its system drive.
  if (errno == ENOENT && letter == 'c') return RealFolder(prefix + "/drive_c");
  return {};
}

// The native folder behind a drive letter of the chosen system; empty when there
// is none.
std::string SystemDriveRoot(char letter) {
  if (rescue::VolumeChosen()) return rescue::VolumeDriveRoot(letter);
  const std::string prefix = posix::FindWinePrefix();
  return prefix.empty() ? std::string() : DriveRoot(prefix, letter);
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
std::optional<WindowsPath> Parse(std::string_view path) {
  if (path.empty() || path.find('\0') != std::string_view::npos) return std::nullopt;
  // "\\server\share" and "\\?\" device paths lead nowhere in a prefix.
  if (path.size() >= 2 && IsSeparator(path[0]) && IsSeparator(path[1])) return std::nullopt;

  const std::string cwd = WindowsCurrentDirectoryPath();
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

// Maps a parsed path. A folder is resolved whole and must exist; a file path keeps
// its last component unresolved and may name something missing. On a mounted
// volume every link is resolved inside the volume, as its own system would.
std::string Map(std::string_view windowsPath, bool folder) {
  const auto parsed = Parse(windowsPath);
  if (!parsed) return {};
  std::string current = SystemDriveRoot(parsed->drive);
  if (current.empty()) return {};
  const std::string drive = current;
  const bool volume = rescue::VolumeChosen();
  const auto RealFolder = [&](const std::string& path) {
    return volume ? posix::FolderInsideRoot(drive, path) : platform::RealFolder(path);
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
    if (i + 1 == parts.size()) return folder ? RealFolder(entry) : entry;
    std::string next = RealFolder(entry);
    // On a volume a path kept through an entry that is no folder inside it would
    // be followed out of it later, when the file is opened.
    if (next.empty()) return folder || volume ? std::string() : keepRest(entry, i + 1);
    current = std::move(next);
  }
  return current;  // the drive's root
}

}  // namespace

std::string WindowsDirectoryPath() {
  if (rescue::VolumeChosen()) {
    auto installation = rescue::ChosenInstallation();
    return installation ? (*installation)->windowsPath : std::string();
  }
  return posix::FindWinePrefix().empty() ? std::string() : std::string(kWindowsDirectory);
}

std::string SystemDirectoryPath() {
  if (rescue::VolumeChosen()) {
    const std::string windows = WindowsDirectoryPath();
    return windows.empty() ? windows : windows + "\\System32";
  }
  return posix::FindWinePrefix().empty() ? std::string() : std::string(kSystemDirectory);
}

std::string WindowsCurrentDirectoryPath() { return SystemDirectoryPath(); }

std::string NativePath(std::string_view windowsPath) { return Map(windowsPath, false); }

std::string NativeFolder(std::string_view windowsPath) { return Map(windowsPath, true); }

std::string SpecialFolderWindowsPath(int csidl) {
  if (rescue::VolumeChosen()) return rescue::VolumeSpecialFolderPath(csidl);
  std::string_view valueName;
  if (csidl == kCsidlLocalAppData) {
    valueName = "Local AppData";
  } else if (csidl == kCsidlMyPictures) {
    valueName = "My Pictures";
  } else {
    return {};
  }
  const auto key = RegistryKey::Open(kHkeyCurrentUser, kShellFolders, KeyAccess::Read);
  if (!key) return {};
  const auto value = key->QueryValue(valueName);
  if (!value || value->type != kRegSz) return {};
  return RegistryText(value->data);
}

std::string SpecialFolderPath(int csidl) {
  const std::string windowsPath = SpecialFolderWindowsPath(csidl);
  return windowsPath.empty() ? std::string() : NativeFolder(windowsPath);
}

std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) {
  const auto parsed = Parse(windowsPath);
  if (!parsed) return std::nullopt;
  const std::string root = SystemDriveRoot(parsed->drive);
  if (root.empty()) return std::nullopt;
  auto folder = Folder::Open(root);
  for (const std::string& part : parsed->components) {
    if (!folder) return std::nullopt;
    folder = folder->Child(SystemEntryName(*folder, part));
  }
  return folder;
}

std::optional<Folder> OpenSpecialFolder(int csidl) {
  const std::string windowsPath = SpecialFolderWindowsPath(csidl);
  if (windowsPath.empty()) return std::nullopt;
  if (auto folder = OpenSystemFolder(windowsPath)) return folder;
  if (rescue::VolumeChosen()) return std::nullopt;  // no home folder of its own to link to
  // Refused: perhaps the folder is Wine's link to the user's own one. Its target,
  // resolved once, is held without following any further link.
  const std::string target = NativeFolder(windowsPath);
  const std::string home = RealFolder(posix::HomeFolder());
  if (target.empty() || home.size() < 2 || target.size() <= home.size() + 1 ||
      target.compare(0, home.size(), home) != 0 || target[home.size()] != '/') {
    return std::nullopt;
  }
  return Folder::Open(target);
}

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

std::vector<std::pair<std::uint32_t, std::string>> SpecialFolderRegistryKeys() {
  return {{kHkeyCurrentUser, kShellFolders}};
}

}  // namespace korbu::platform
