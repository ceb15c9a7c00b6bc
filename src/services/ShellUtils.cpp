#include "services/ShellUtils.h"

#include "platform/IniFile.h"
#include "platform/Path.h"
#include "platform/Trash.h"
#include "platform/WindowsSystem.h"

namespace korbu {

bool RecycleFile(const std::string& path) {
  try {
    return platform::MoveToTrash(path).has_value();
  } catch (...) {
    return false;  // out of memory: the item stays where it was
  }
}

std::string GetSpecialFolderPath(const platform::WindowsSystem& system, int csidl) {
  return system.SpecialFolderPath(csidl);
}

std::string GetPicturesFolder(const platform::WindowsSystem& system) {
  return GetSpecialFolderPath(system, platform::kCsidlMyPictures);
}

std::string GetWindowsDir(const platform::WindowsSystem& system) {
  return system.NativeFolder(system.WindowsDirectoryPath());
}

std::string GetSystemDir(const platform::WindowsSystem& system) {
  return system.NativeFolder(system.SystemDirectoryPath());
}

bool WriteIniValue(const platform::WindowsSystem& system, std::string_view section, std::string_view key, std::string_view value,
                   const std::string& fileName) {
  if (fileName.empty()) return false;
  std::string path = fileName;
  if (platform::ExtractFilePath(fileName).empty()) {
    const std::string windows = system.WindowsDirectoryPath();
    if (windows.empty()) return false;
    path = system.NativePath(windows + "\\" + fileName);
    if (path.empty()) return false;
  }
  return platform::WriteIniString(path, section, key, value);
}

}  // namespace korbu
