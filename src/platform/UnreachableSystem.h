#pragma once
// A Windows system that cannot be reached: every call fails with the reason, or
// finds nothing.

#include <string>

#include "platform/WindowsSystem.h"

namespace korbu::platform {

class UnreachableSystem final : public WindowsSystem {
 public:
  UnreachableSystem(WindowsSystemRef identity, std::string reason)
      : identity_(std::move(identity)), reason_(std::move(reason)) {}

  WindowsSystemRef Identity() const override { return identity_; }
  bool Is(const WindowsSystemRef& other) const override { return other == identity_; }
  Expected<RegistryKey> OpenKey(RootKey, std::string_view, KeyAccess) const override { return Failure(reason_); }
  Expected<RegistryKey> CreateKey(RootKey, std::string_view) const override { return Failure(reason_); }
  KeyState ProbeKey(RootKey, std::string_view) const override { return KeyState::Unreachable; }
  Status DeleteEmptyKey(RootKey, std::string_view) const override { return Failure(reason_); }
  Status Prefetch(const RegistryKeyList&) const override { return Failure(reason_); }
  std::string WindowsDirectoryPath() const override { return {}; }
  std::string SystemDirectoryPath() const override { return {}; }
  std::string CurrentDirectoryPath() const override { return {}; }
  std::string NativePath(std::string_view) const override { return {}; }
  std::string NativeFolder(std::string_view) const override { return {}; }
  std::string SpecialFolderWindowsPath(int) const override { return {}; }
  std::optional<Folder> OpenSystemFolder(std::string_view) const override { return std::nullopt; }
  std::optional<Folder> OpenSpecialFolder(int) const override { return std::nullopt; }
  RegistryKeyList SpecialFolderRegistryKeys() const override { return {}; }
  std::string ExpandEnvironment(std::string_view text) const override { return std::string(text); }
  RegistryKeyList EnvironmentRegistryKeys() const override { return {}; }
  std::vector<std::string> Users() const override { return {}; }
  std::vector<std::string> UserFolders() const override { return {}; }
  Status Found() const override { return Failure(reason_); }
  Status Writable() const override { return Failure(reason_); }
  std::vector<std::string> Notes() const override { return {}; }

 private:
  WindowsSystemRef identity_;
  std::string reason_;
};

}  // namespace korbu::platform
