// On Windows the system is the one the program runs on: Windows paths are native.
#include "platform/win32/RunningSystem.h"

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform::win32 {

std::string RunningSystem::WindowsDirectoryPath() const {
  return FillString([](wchar_t* b, DWORD n) { return ::GetWindowsDirectoryW(b, n); });
}

std::string RunningSystem::SystemDirectoryPath() const {
  return FillString([](wchar_t* b, DWORD n) { return ::GetSystemDirectoryW(b, n); });
}

std::string RunningSystem::CurrentDirectoryPath() const { return CurrentDirectory(); }

std::string RunningSystem::NativePath(std::string_view windowsPath) const {
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

std::string RunningSystem::NativeFolder(std::string_view windowsPath) const {
  std::string path = NativePath(windowsPath);
  if (path.empty() || !DirectoryExists(path)) return {};
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

std::optional<Folder> RunningSystem::OpenSystemFolder(std::string_view windowsPath) const {
  if (windowsPath.empty()) return std::nullopt;
  auto held = Folder::Open(std::string(windowsPath));
  if (!held) return std::nullopt;
  return std::move(*held);
}

std::optional<Folder> RunningSystem::OpenSpecialFolder(int csidl) const {
  return OpenSystemFolder(SpecialFolderWindowsPath(csidl));
}

std::string RunningSystem::SpecialFolderWindowsPath(int csidl) const {
  LPITEMIDLIST list = nullptr;
  if (::SHGetSpecialFolderLocation(nullptr, csidl, &list) != S_OK || list == nullptr) return {};
  wchar_t buffer[MAX_PATH] = {};
  const BOOL ok = ::SHGetPathFromIDListW(list, buffer);
  ::CoTaskMemFree(list);
  if (!ok) return {};
  std::string path = Utf8(buffer);
  return DirectoryExists(path) ? path : std::string();
}

std::string RunningSystem::ExpandEnvironment(std::string_view text) const {
  const std::string source(text);
  if (source.find('\0') != std::string::npos) return source;
  const std::wstring wide = Wide(source);
  std::wstring buffer(wide.size() + MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD need = ::ExpandEnvironmentStringsW(wide.c_str(), buffer.data(), static_cast<DWORD>(buffer.size()));
    if (need == 0) return source;
    // The count includes the terminating zero.
    if (need <= buffer.size()) {
      buffer.resize(need - 1);
      return Utf8(buffer);
    }
    buffer.resize(need);
  }
  return source;
}

}  // namespace korbu::platform::win32

namespace korbu::platform {

std::string SystemEntryName(const Folder& folder, const std::string& name) {
  (void)folder;  // the file system itself ignores letter case
  return name;
}

}  // namespace korbu::platform
