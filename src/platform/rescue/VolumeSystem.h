#pragma once
// The Windows system of an installation whose system volume is mounted here
// (rescue mode): its hives read and written through libhivex
// (VolumeRegistry.h), its folders on the volume, every link resolved with the
// volume as the root, and its users.

#include <memory>
#include <string>

#include "platform/Expected.h"
#include "platform/WindowsSystem.h"
#include "platform/posix/WindowsPaths.h"
#include "platform/rescue/WindowsInstallation.h"

namespace korbu::platform::rescue {

/// The installation on a volume, found the first time it is asked for and kept
/// for the rest of the run; the reason when none is found there.
Expected<std::shared_ptr<const WindowsInstallation>> InstallationOn(const std::string& root);

class VolumeSystem final : public WindowsSystem {
 public:
  /// ref: a WindowsVolume record (its mount folder and user).
  explicit VolumeSystem(WindowsSystemRef ref);

  WindowsSystemRef Identity() const override { return ref_; }
  bool Is(const WindowsSystemRef& other) const override;

  Expected<RegistryKey> OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const override;
  Expected<RegistryKey> CreateKey(RootKey root, std::string_view keyPath) const override;
  KeyState ProbeKey(RootKey root, std::string_view keyPath) const override;
  Status DeleteEmptyKey(RootKey root, std::string_view keyPath) const override;
  // Its hives are read whole when first asked: nothing to read ahead.
  Status Prefetch(const RegistryKeyList&) const override { return Ok(); }

  std::string WindowsDirectoryPath() const override;
  std::string SystemDirectoryPath() const override;
  std::string CurrentDirectoryPath() const override { return SystemDirectoryPath(); }
  std::string NativePath(std::string_view windowsPath) const override;
  std::string NativeFolder(std::string_view windowsPath) const override;
  OpenedFile OpenFile(const std::string& nativePath) const override;
  std::string SpecialFolderWindowsPath(int csidl) const override;
  std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) const override;
  // No home folder of its own to link to: a special folder is held where it is.
  std::optional<Folder> OpenSpecialFolder(int csidl) const override;
  RegistryKeyList SpecialFolderRegistryKeys() const override { return {}; }
  std::string ExpandEnvironment(std::string_view text) const override;
  RegistryKeyList EnvironmentRegistryKeys() const override;

  std::vector<std::string> Users() const override;
  std::vector<std::string> UserFolders() const override;

  Status Found() const override;
  Status Writable() const override;
  std::vector<std::string> Notes() const override;

 private:
  const WindowsUser* User(const WindowsInstallation& installation) const;
  std::string UserProfilePath() const;
  posix::WindowsPathMap Paths() const;

  WindowsSystemRef ref_;
  Expected<std::shared_ptr<const WindowsInstallation>> installation_;
};

}  // namespace korbu::platform::rescue
