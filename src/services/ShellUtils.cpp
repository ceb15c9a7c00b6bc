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

std::string GetSpecialFolderPath(int csidl) { return platform::SpecialFolderPath(csidl); }

std::string GetPicturesFolder() { return GetSpecialFolderPath(platform::kCsidlMyPictures); }

std::string GetWindowsDir() { return platform::NativeFolder(platform::WindowsDirectoryPath()); }

std::string GetSystemDir() { return platform::NativeFolder(platform::SystemDirectoryPath()); }

bool WriteIniValue(std::string_view section, std::string_view key, std::string_view value,
                   const std::string& fileName) {
  if (fileName.empty()) return false;
  std::string path = fileName;
  if (platform::ExtractFilePath(fileName).empty()) {
    const std::string windows = platform::WindowsDirectoryPath();
    if (windows.empty()) return false;
    path = platform::NativePath(windows + "\\" + fileName);
    if (path.empty()) return false;
  }
  return platform::WriteIniString(path, section, key, value);
}

}  // namespace korbu
