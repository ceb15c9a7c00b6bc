#pragma once
// Windows paths of a Windows system whose drives are native folders here (a
// Wine prefix, a mounted Windows volume): each component matched the way Windows
// matches names, on drives a backend names.

#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "platform/FolderHandle.h"

namespace korbu::platform::posix {

class WindowsPathMap {
 public:
  /// The native folder behind a drive letter (lower case); empty for none.
  using DriveRoot = std::function<std::string(char letter)>;

  /// currentDirectory: where relative paths start ("C:\windows\system32").
  /// confined: each link on the way is resolved with its drive's folder as "/",
  /// so that none leads out of it (a volume, a prefix another user owns).
  WindowsPathMap(DriveRoot driveRoot, std::string currentDirectory, bool confined);

  /// WindowsSystem::NativePath and NativeFolder.
  std::string NativePath(std::string_view windowsPath) const;
  std::string NativeFolder(std::string_view windowsPath) const;

  /// WindowsSystem::OpenSystemFolder.
  std::optional<Folder> OpenFolder(std::string_view windowsPath) const;

 private:
  std::string Map(std::string_view windowsPath, bool folder) const;

  DriveRoot driveRoot_;
  std::string currentDirectory_;
  bool confined_ = false;
};

/// The canonical form of a folder (links followed); empty unless it is a directory.
std::string RealFolder(const std::string& path);

}  // namespace korbu::platform::posix
