#include "platform/DurableFile.h"

#include <utility>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

HANDLE H(std::intptr_t handle) { return reinterpret_cast<HANDLE>(handle); }

}  // namespace

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

Status MakePrivateFolders(const std::string& path) {
  if (path.empty()) return Failure("no folder given", ERROR_BAD_PATHNAME);
  if (DirectoryExists(path)) return Ok();
  std::string parent = ExtractFilePath(path);
  while (parent.size() > 3 && IsPathDelimiter(parent.back())) parent.pop_back();
  if (!parent.empty() && parent != path) {
    if (Status made = MakePrivateFolders(parent); !made) return made;
  }
  // The user's own profile folder already keeps others out.
  const auto wide = win32::WidePath(path);
  if (!wide) return LastSystemError().Context(path);
  if (::CreateDirectoryW(wide->c_str(), nullptr) != 0) return Ok();
  const Error failed = LastSystemError().Context(path);
  if (DirectoryExists(path)) return Ok();  // made by another meanwhile
  return failed;
}

std::string ProgramDataFolder() {
  wchar_t buffer[MAX_PATH] = {};
  if (::SHGetFolderPathW(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, buffer) != S_OK) return {};
  return IncludeTrailingDelimiter(win32::Utf8(buffer)) + "KORBU";
}

}  // namespace korbu::platform
