#pragma once
// The Windows system of a Wine prefix: its registry (the files, or Wine while
// its server runs), its drives (the links in <prefix>/dosdevices, names below
// them matched the way Wine matches them) and its user's folders.

#include <memory>
#include <string>

#include "platform/WindowsSystem.h"
#include "platform/posix/WindowsPaths.h"

namespace korbu::platform::wine {

class PrefixSystem final : public WindowsSystem {
 public:
  /// folder: the prefix, empty when none was found (then every call fails or
  /// finds nothing, and Found() says why). A prefix another user owns is
  /// confined: its drives count only where they lie inside it, and no link is
  /// followed out of a drive.
  explicit PrefixSystem(std::string folder);

  WindowsSystemRef Identity() const override;
  bool Is(const WindowsSystemRef& other) const override;

  Expected<RegistryKey> OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const override;
  Expected<RegistryKey> CreateKey(RootKey root, std::string_view keyPath) const override;
  KeyState ProbeKey(RootKey root, std::string_view keyPath) const override;
  Status DeleteEmptyKey(RootKey root, std::string_view keyPath) const override;
  Status Prefetch(const RegistryKeyList& keys) const override;

  std::string WindowsDirectoryPath() const override;
  std::string SystemDirectoryPath() const override;
  std::string CurrentDirectoryPath() const override;
  std::string NativePath(std::string_view windowsPath) const override;
  std::string NativeFolder(std::string_view windowsPath) const override;
  OpenedFile OpenFile(const std::string& nativePath) const override;
  std::string SpecialFolderWindowsPath(int csidl) const override;
  std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) const override;
  std::optional<Folder> OpenSpecialFolder(int csidl) const override;
  RegistryKeyList SpecialFolderRegistryKeys() const override;
  std::string ExpandEnvironment(std::string_view text) const override;
  RegistryKeyList EnvironmentRegistryKeys() const override;

  std::vector<std::string> Users() const override { return {}; }
  std::vector<std::string> UserFolders() const override { return {}; }

  Status Found() const override;
  Status Writable() const override { return Ok(); }
  std::vector<std::string> Notes() const override;

 private:
  std::string DriveRoot(char letter) const;
  std::string DriveTarget(char letter) const;
  posix::WindowsPathMap Paths() const;

  std::string folder_;
  std::string realFolder_;
  bool confined_ = false;
};

/// The prefix a record names (a prefix, or Default: WINEPREFIX, else ~/.wine).
std::shared_ptr<PrefixSystem> OpenPrefixSystem(const WindowsSystemRef& ref);

}  // namespace korbu::platform::wine
