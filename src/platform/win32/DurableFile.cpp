#include "platform/DurableFile.h"

#include <utility>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

HANDLE H(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

std::intptr_t Open(const std::string& path, DWORD access, DWORD disposition) {
  const auto wide = win32::WidePath(path);
  if (!wide) return -1;
  // FILE_FLAG_OPEN_REPARSE_POINT: a link is opened as itself, never followed.
  HANDLE h = ::CreateFileW(wide->c_str(), access, FILE_SHARE_READ, nullptr, disposition,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (h == INVALID_HANDLE_VALUE) return -1;
  return reinterpret_cast<std::intptr_t>(h);
}

}  // namespace

std::optional<DurableFile> DurableFile::CreateNew(const std::string& path) {
  const std::intptr_t h = Open(path, GENERIC_WRITE, CREATE_NEW);
  if (h == -1) return std::nullopt;
  return DurableFile(h);
}

std::optional<DurableFile> DurableFile::OpenForAppend(const std::string& path) {
  if (!FileExists(path)) return std::nullopt;
  const std::intptr_t h = Open(path, FILE_APPEND_DATA, OPEN_EXISTING);
  if (h == -1) return std::nullopt;
  return DurableFile(h);
}

DurableFile::DurableFile(DurableFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != -1) ::CloseHandle(H(handle_));
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

DurableFile::~DurableFile() {
  if (handle_ != -1) ::CloseHandle(H(handle_));
}

bool DurableFile::Write(std::string_view bytes) {
  while (!bytes.empty()) {
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD written = 0;
    if (!::WriteFile(H(handle_), bytes.data(), chunk, &written, nullptr) || written == 0) return false;
    bytes.remove_prefix(written);
  }
  return true;
}

bool DurableFile::Sync() { return ::FlushFileBuffers(H(handle_)) != 0; }

bool MakePrivateFolders(const std::string& path) {
  if (path.empty()) return false;
  if (DirectoryExists(path)) return true;
  std::string parent = ExtractFilePath(path);
  while (parent.size() > 3 && IsPathDelimiter(parent.back())) parent.pop_back();
  if (!parent.empty() && parent != path && !MakePrivateFolders(parent)) return false;
  // The user's own profile folder already keeps others out.
  const auto wide = win32::WidePath(path);
  return wide && (::CreateDirectoryW(wide->c_str(), nullptr) != 0 || DirectoryExists(path));
}

bool SyncFolder(const std::string&) { return true; }  // NTFS orders its own metadata

bool MoveNoReplace(const std::string& from, const std::string& to) {
  const auto wideFrom = win32::WidePath(from);
  const auto wideTo = win32::WidePath(to);
  return wideFrom && wideTo && ::MoveFileExW(wideFrom->c_str(), wideTo->c_str(), MOVEFILE_WRITE_THROUGH) != 0;
}

std::string ProgramDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) return {};
  return IncludeTrailingDelimiter(win32::Utf8(buffer)) + "KORBU";
}

}  // namespace korbu::platform
