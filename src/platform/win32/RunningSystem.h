#pragma once
// The Windows system the program runs on: Windows paths are native, the
// registry is the wide registry API's, and the shell tells the special folders.

#include "platform/WindowsSystem.h"

namespace korbu::platform::win32 {

class RunningSystem final : public WindowsSystem {
 public:
  WindowsSystemRef Identity() const override { return {}; }
  bool Is(const WindowsSystemRef& other) const override { return other.kind == WindowsSystemRef::Kind::Default; }

  Expected<RegistryKey> OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const override;
  Expected<RegistryKey> CreateKey(RootKey root, std::string_view keyPath) const override;
  KeyState ProbeKey(RootKey root, std::string_view keyPath) const override;
  Status DeleteEmptyKey(RootKey root, std::string_view keyPath) const override;
  // Windows' registry is reached directly by every call: nothing to read ahead.
  Status Prefetch(const RegistryKeyList&) const override { return Ok(); }

  std::string WindowsDirectoryPath() const override;
  std::string SystemDirectoryPath() const override;
  std::string CurrentDirectoryPath() const override;
  std::string NativePath(std::string_view windowsPath) const override;
  std::string NativeFolder(std::string_view windowsPath) const override;
  std::string SpecialFolderWindowsPath(int csidl) const override;
  std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) const override;
  std::optional<Folder> OpenSpecialFolder(int csidl) const override;
  // The shell and the process tell these, not keys a task would read ahead.
  RegistryKeyList SpecialFolderRegistryKeys() const override { return {}; }
  std::string ExpandEnvironment(std::string_view text) const override;
  RegistryKeyList EnvironmentRegistryKeys() const override { return {}; }

  std::vector<std::string> Users() const override { return {}; }
  std::vector<std::string> UserFolders() const override { return {}; }

  Status Found() const override { return Ok(); }
  Status Writable() const override { return Ok(); }
  std::vector<std::string> Notes() const override { return {}; }
};

}  // namespace korbu::platform::win32
