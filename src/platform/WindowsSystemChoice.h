#pragma once
// Which Windows system the free functions below act on: by default the system
// the program runs with; a repair of a worm that runs in another prefix acts on
// that prefix instead, for the calls of one thread while a ScopedWindowsSystem
// lives. Each call opens that system (SystemFactory.h) and asks it.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Expected.h"
#include "platform/WindowsSystem.h"

namespace korbu::platform {

/// The system the calls of this thread act on, as a record.
const WindowsSystemRef& CurrentWindowsSystem();

/// That system, opened.
std::shared_ptr<WindowsSystem> CurrentSystem();

/// The folder of the Wine prefix the calls of this thread act on now (POSIX);
/// empty on Windows and where there is no prefix.
std::string ChosenWinePrefix();

/// True when two folders are the same Wine prefix, whatever links lead to it
/// (false on Windows, where there are none).
bool SamePrefixFolder(const std::string& a, const std::string& b);

/// The Windows volume the calls of this thread act on (its mount folder); empty
/// for any other system.
std::string ChosenWindowsVolume();

// WindowsSystem's calls on the chosen system.
std::vector<std::string> SystemUsers();
std::vector<std::string> SystemUserFolders();
Status ChosenSystemFound();
Status ChosenSystemWritable();
std::vector<std::string> ChosenSystemNotes();
std::string WindowsDirectoryPath();
std::string SystemDirectoryPath();
std::string WindowsCurrentDirectoryPath();
std::string NativePath(std::string_view windowsPath);
std::string NativeFolder(std::string_view windowsPath);
std::string SpecialFolderPath(int csidl);
std::string SpecialFolderWindowsPath(int csidl);
std::optional<Folder> OpenSystemFolder(std::string_view windowsPath);
std::optional<Folder> OpenSpecialFolder(int csidl);
RegistryKeyList SpecialFolderRegistryKeys();

/// Makes the calls of this thread act on another system while it lives; nests.
class ScopedWindowsSystem {
 public:
  explicit ScopedWindowsSystem(WindowsSystemRef system);
  ~ScopedWindowsSystem();
  ScopedWindowsSystem(const ScopedWindowsSystem&) = delete;
  ScopedWindowsSystem& operator=(const ScopedWindowsSystem&) = delete;

 private:
  WindowsSystemRef previous_;
};

}  // namespace korbu::platform
