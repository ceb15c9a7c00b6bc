// On Windows the system is the one the program runs on: Windows paths are native.
#include "platform/WindowsSystem.h"


#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

std::string WindowsDirectoryPath() {
  return win32::FillString([](wchar_t* b, DWORD n) { return ::GetWindowsDirectoryW(b, n); });
}

std::string SystemDirectoryPath() {
  return win32::FillString([](wchar_t* b, DWORD n) { return ::GetSystemDirectoryW(b, n); });
}

std::string WindowsCurrentDirectoryPath() { return CurrentDirectory(); }

std::string NativePath(std::string_view windowsPath) {
  if (windowsPath.empty() || windowsPath.find('\0') != std::string_view::npos) return {};
  if (windowsPath.size() >= 2 && IsPathDelimiter(windowsPath[0]) && IsPathDelimiter(windowsPath[1]) &&
      windowsPath[0] != ':') {
    return {};  // network paths are not followed
  }
  std::string full = FullPath(windowsPath);
  // FullPath keeps a final separator; a file path has none beyond the drive root.
  if (full.size() > 3 && full.back() == '\\' && windowsPath.back() != '\\' && windowsPath.back() != '/') {
    full.pop_back();
  }
  return full;
}

std::string NativeFolder(std::string_view windowsPath) {
  std::string path = NativePath(windowsPath);
  if (path.empty() || !DirectoryExists(path)) return {};
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

std::string SpecialFolderWindowsPath(int csidl) { return SpecialFolderPath(csidl); }

std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) {
  if (windowsPath.empty()) return std::nullopt;
  return Folder::Open(std::string(windowsPath));
}

std::optional<Folder> OpenSpecialFolder(int csidl) {
  return OpenSystemFolder(SpecialFolderWindowsPath(csidl));
}

std::string SystemEntryName(const Folder& folder, const std::string& name) {
  (void)folder;  // the file system itself ignores letter case
  return name;
}

std::string SpecialFolderPath(int csidl) {
  LPITEMIDLIST list = nullptr;
  if (::SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK || list == nullptr) return {};
  wchar_t buffer[MAX_PATH] = {};
  const BOOL ok = ::SHGetPathFromIDListW(list, buffer);
  ::CoTaskMemFree(list);
  if (!ok) return {};
  std::string path = win32::Utf8(buffer);
  return DirectoryExists(path) ? path : std::string();
}

}  // namespace korbu::platform
