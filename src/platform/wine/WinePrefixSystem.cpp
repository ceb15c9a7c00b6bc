#include "platform/wine/WinePrefixSystem.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>

#include "platform/AsciiCase.h"
#include "platform/posix/InsideRoot.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/WindowsVariables.h"
#include "platform/wine/WinePrefix.h"

namespace korbu::platform::wine {
namespace {

// Wine keeps its Windows folder here in every prefix, and starts programs in the
// system folder.
constexpr std::string_view kWindowsDirectory = "C:\\windows";
constexpr std::string_view kSystemDirectory = "C:\\windows\\system32";
// Wine keeps the resolved folders of the user under Explorer's "Shell Folders".
constexpr const char* kShellFolders = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";

std::string UserName() {
  for (const char* name : {"USER", "LOGNAME"}) {
    if (const char* value = std::getenv(name); value != nullptr && value[0] != '\0') return value;
  }
  return "root";
}

bool Below(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            (folder == "/" || path[folder.size()] == '/'));
}

}  // namespace

PrefixSystem::PrefixSystem(std::string folder) : folder_(std::move(folder)) {
  struct stat st {};
  if (folder_.empty() || ::stat(folder_.c_str(), &st) != 0) return;
  realFolder_ = posix::RealFolder(folder_);
  confined_ = st.st_uid != ::geteuid();
}

WindowsSystemRef PrefixSystem::Identity() const {
  return folder_.empty() ? WindowsSystemRef{} : WindowsSystemRef::Prefix(folder_);
}

bool PrefixSystem::Is(const WindowsSystemRef& other) const {
  return other.kind == WindowsSystemRef::Kind::WinePrefix && SamePrefixFolder(folder_, other.root);
}

Status PrefixSystem::Found() const {
  if (folder_.empty()) return Failure("no Wine prefix (a folder with system.reg, user.reg and drive_c)");
  return Ok();
}

// The native folder behind a drive letter (already lower case), wherever it lies.
std::string PrefixSystem::DriveTarget(char letter) const {
  if (folder_.empty()) return {};
  const std::string device = folder_ + "/dosdevices/" + letter + ":";
  struct stat st {};
  if (::lstat(device.c_str(), &st) == 0) return posix::RealFolder(device);
  // A prefix that never got its dosdevices links still has its system drive.
  if (errno == ENOENT && letter == 'c') return posix::RealFolder(folder_ + "/drive_c");
  return {};
}

posix::WindowsPathMap PrefixSystem::Paths() const {
  return posix::WindowsPathMap([this](char letter) { return DriveRoot(letter); }, CurrentDirectoryPath(), confined_);
}

// The drive's folder as this system's paths may use it: confined, only inside
// the prefix (z: -> / is no drive of hers to lead root to).
std::string PrefixSystem::DriveRoot(char letter) const {
  std::string root = DriveTarget(letter);
  if (confined_ && !Below(root, realFolder_)) return {};
  return root;
}

std::vector<std::string> PrefixSystem::Notes() const {
  std::vector<std::string> notes;
  if (!confined_) return notes;
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    const std::string target = DriveTarget(letter);
    if (target.empty() || Below(target, realFolder_)) continue;
    notes.push_back(std::string("drive ") + letter + ": of the Wine prefix " + folder_ + " leads out of it, to " +
                    target + ", and another user owns the prefix: no path on that drive is followed");
  }
  return notes;
}

OpenedFile PrefixSystem::OpenFile(const std::string& nativePath) const {
  if (!confined_) return OpenedFile::Open(nativePath);
  for (char letter = 'a'; letter <= 'z'; ++letter) {
    const std::string root = DriveRoot(letter);
    if (!root.empty() && Below(nativePath, root)) return posix::OpenFileInsideRoot(root, nativePath);
  }
  return OpenedFile::Refused("it lies on no drive of the Wine prefix " + folder_);
}

std::string PrefixSystem::WindowsDirectoryPath() const {
  return folder_.empty() ? std::string() : std::string(kWindowsDirectory);
}

std::string PrefixSystem::SystemDirectoryPath() const {
  return folder_.empty() ? std::string() : std::string(kSystemDirectory);
}

std::string PrefixSystem::CurrentDirectoryPath() const { return SystemDirectoryPath(); }

std::string PrefixSystem::NativePath(std::string_view windowsPath) const {
  return Paths().NativePath(windowsPath);
}

std::string PrefixSystem::NativeFolder(std::string_view windowsPath) const {
  return Paths().NativeFolder(windowsPath);
}

std::optional<Folder> PrefixSystem::OpenSystemFolder(std::string_view windowsPath) const {
  return Paths().OpenFolder(windowsPath);
}

std::string PrefixSystem::SpecialFolderWindowsPath(int csidl) const {
  std::string_view valueName;
  if (csidl == kCsidlLocalAppData) {
    valueName = "Local AppData";
  } else if (csidl == kCsidlMyPictures) {
    valueName = "My Pictures";
  } else {
    return {};
  }
  const auto key = OpenKey(kHkeyCurrentUser, kShellFolders, KeyAccess::Read);
  if (!key) return {};
  const auto value = key->QueryValue(valueName);
  if (!value || value->type != kRegSz) return {};
  return RegistryText(value->data);
}

std::optional<Folder> PrefixSystem::OpenSpecialFolder(int csidl) const {
  const std::string windowsPath = SpecialFolderWindowsPath(csidl);
  if (windowsPath.empty()) return std::nullopt;
  if (auto folder = OpenSystemFolder(windowsPath)) return folder;
  // Refused: perhaps the folder is Wine's link to the user's own one. Its target,
  // resolved once, is held without following any further link.
  const std::string target = NativeFolder(windowsPath);
  const std::string home = posix::RealFolder(posix::HomeFolder());
  if (target.empty() || home.size() < 2 || target.size() <= home.size() + 1 ||
      target.compare(0, home.size(), home) != 0 || target[home.size()] != '/') {
    return std::nullopt;
  }
  auto held = Folder::Open(target);
  if (!held) return std::nullopt;
  return std::move(*held);
}

RegistryKeyList PrefixSystem::SpecialFolderRegistryKeys() const { return {{kHkeyCurrentUser, kShellFolders}}; }

std::string PrefixSystem::ExpandEnvironment(std::string_view text) const {
  // A prefix's user is the one running Wine in it.
  const std::string windows = WindowsDirectoryPath();
  const std::string profile = windows.empty() ? std::string() : windows.substr(0, 2) + "\\users\\" + UserName();
  return posix::ExpandWindowsVariables(*this, text, profile);
}

RegistryKeyList PrefixSystem::EnvironmentRegistryKeys() const { return posix::WindowsVariableKeys(); }

std::shared_ptr<PrefixSystem> OpenPrefixSystem(const WindowsSystemRef& ref) {
  return std::make_shared<PrefixSystem>(FindWinePrefix(ref));
}

}  // namespace korbu::platform::wine
