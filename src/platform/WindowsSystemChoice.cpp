#include "platform/WindowsSystemChoice.h"

#include <utility>

#include "platform/SystemFactory.h"
#include "platform/WindowsEnvironment.h"
#ifndef _WIN32
#include "platform/wine/WinePrefix.h"
#endif

namespace korbu::platform {
namespace {

thread_local WindowsSystemRef chosen;

}  // namespace

const WindowsSystemRef& CurrentWindowsSystem() { return chosen; }

std::shared_ptr<WindowsSystem> CurrentSystem() { return OpenOrUnreachable(chosen); }

ScopedWindowsSystem::ScopedWindowsSystem(WindowsSystemRef system) : previous_(std::exchange(chosen, std::move(system))) {}

ScopedWindowsSystem::~ScopedWindowsSystem() { chosen = std::move(previous_); }

std::string ChosenWinePrefix() { return CurrentSystem()->Identity().PrefixFolder(); }

bool SamePrefixFolder(const std::string& a, const std::string& b) {
#ifdef _WIN32
  (void)a;
  (void)b;
  return false;
#else
  return wine::SamePrefixFolder(a, b);
#endif
}

WindowsSystemRef WindowsSystemRef::Named(std::string_view prefix, std::string_view volume) {
  if (!volume.empty()) return Volume(std::string(volume));
  if (!prefix.empty()) return Prefix(std::string(prefix));
  return chosen;
}

std::string ChosenWindowsVolume() { return chosen.VolumeFolder(); }

std::vector<std::string> SystemUsers() { return CurrentSystem()->Users(); }
std::vector<std::string> SystemUserFolders() { return CurrentSystem()->UserFolders(); }
Status ChosenSystemFound() { return CurrentSystem()->Found(); }
Status ChosenSystemWritable() { return CurrentSystem()->Writable(); }
std::vector<std::string> ChosenSystemNotes() { return CurrentSystem()->Notes(); }
std::string WindowsDirectoryPath() { return CurrentSystem()->WindowsDirectoryPath(); }
std::string SystemDirectoryPath() { return CurrentSystem()->SystemDirectoryPath(); }
std::string WindowsCurrentDirectoryPath() { return CurrentSystem()->CurrentDirectoryPath(); }
std::string NativePath(std::string_view windowsPath) { return CurrentSystem()->NativePath(windowsPath); }
std::string NativeFolder(std::string_view windowsPath) { return CurrentSystem()->NativeFolder(windowsPath); }
std::string SpecialFolderPath(int csidl) { return CurrentSystem()->SpecialFolderPath(csidl); }
std::string SpecialFolderWindowsPath(int csidl) { return CurrentSystem()->SpecialFolderWindowsPath(csidl); }
std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) {
  return CurrentSystem()->OpenSystemFolder(windowsPath);
}
std::optional<Folder> OpenSpecialFolder(int csidl) { return CurrentSystem()->OpenSpecialFolder(csidl); }
RegistryKeyList SpecialFolderRegistryKeys() { return CurrentSystem()->SpecialFolderRegistryKeys(); }

std::string ExpandWindowsEnvironment(std::string_view text) { return CurrentSystem()->ExpandEnvironment(text); }
std::vector<std::pair<std::uint32_t, std::string>> EnvironmentRegistryKeys() {
  return CurrentSystem()->EnvironmentRegistryKeys();
}

Expected<RegistryKey> RegistryKey::Open(RootKey root, std::string_view keyPath, KeyAccess access) {
  return CurrentSystem()->OpenKey(root, keyPath, access);
}
Expected<RegistryKey> RegistryKey::Create(RootKey root, std::string_view keyPath) {
  return CurrentSystem()->CreateKey(root, keyPath);
}
KeyState RegistryKey::Probe(RootKey root, std::string_view keyPath) { return CurrentSystem()->ProbeKey(root, keyPath); }
Status RegistryKey::DeleteEmptyKey(RootKey root, std::string_view keyPath) {
  return CurrentSystem()->DeleteEmptyKey(root, keyPath);
}
Status RegistryBatch::Prefetch(const std::vector<std::pair<RootKey, std::string>>& keys) {
  return CurrentSystem()->Prefetch(keys);
}

}  // namespace korbu::platform
