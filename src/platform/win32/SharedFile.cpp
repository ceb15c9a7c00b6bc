#include "platform/SharedFile.h"

#include <aclapi.h>

#include <memory>
#include <utility>

#include "platform/DurableFile.h"
#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

// The owner a file made by this process gets: the user, or for an elevated
// administrator the Administrators group (the token's default owner).
bool OwnedByUs(HANDLE file) {
  PSID owner = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (::GetSecurityInfo(file, SE_FILE_OBJECT, OWNER_SECURITY_INFORMATION, &owner, nullptr, nullptr, nullptr,
                        &descriptor) != ERROR_SUCCESS) {
    return false;
  }
  std::unique_ptr<void, decltype(&::LocalFree)> held(descriptor, &::LocalFree);
  HANDLE token = nullptr;
  if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
  win32::UniqueHandle tokenHolder(token);
  for (TOKEN_INFORMATION_CLASS what : {TokenUser, TokenOwner}) {
    DWORD size = 0;
    ::GetTokenInformation(token, what, nullptr, 0, &size);
    std::unique_ptr<unsigned char[]> buffer(new unsigned char[size == 0 ? 1 : size]);
    if (size == 0 || !::GetTokenInformation(token, what, buffer.get(), size, &size)) continue;
    PSID sid = what == TokenUser ? reinterpret_cast<TOKEN_USER*>(buffer.get())->User.Sid
                                 : reinterpret_cast<TOKEN_OWNER*>(buffer.get())->Owner;
    if (::EqualSid(sid, owner)) return true;
  }
  return false;
}

Status CheckOwn(HANDLE handle, bool folder) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!::GetFileInformationByHandle(handle, &info)) return LastSystemError();
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Failure("a link, not followed");
  if (((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) != folder) {
    return Failure(folder ? "not a folder" : "not a regular file");
  }
  if (!OwnedByUs(handle)) return Failure("owned by another user");
  return Ok();
}

HANDLE OpenEntry(const std::string& path, DWORD access, DWORD disposition, DWORD flags) {
  const auto wide = win32::WidePath(path);
  if (!wide) {
    ::SetLastError(ERROR_INVALID_NAME);
    return INVALID_HANDLE_VALUE;
  }
  return ::CreateFileW(wide->c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                       disposition, FILE_FLAG_OPEN_REPARSE_POINT | flags, nullptr);
}

}  // namespace

std::string ProgramCacheFolder() {
  const std::string local = ProgramDataFolder();  // %LOCALAPPDATA%\KORBU
  return local.empty() ? local : IncludeTrailingDelimiter(local) + "cache";
}

Status EnsurePrivateFolder(const std::string& path) {
  if (path.empty()) return Failure("no folder given");
  std::string parent = ExtractFilePath(path);
  while (parent.size() > 3 && IsPathDelimiter(parent.back())) parent.pop_back();
  if (parent.size() > 3) {
    if (Status made = MakePrivateFolders(parent); !made) return made.error().Context("cannot make it");
  }
  const auto wide = win32::WidePath(path);
  if (!wide) return Failure("not a name Windows can hold").Context(path);
  if (!::CreateDirectoryW(wide->c_str(), nullptr) && ::GetLastError() != ERROR_ALREADY_EXISTS) {
    return LastSystemError().Context(path);
  }
  win32::UniqueHandle folder(OpenEntry(path, READ_CONTROL | FILE_READ_ATTRIBUTES, OPEN_EXISTING,
                                       FILE_FLAG_BACKUP_SEMANTICS));
  if (!folder.Valid()) return LastSystemError().Context(path);
  Status own = CheckOwn(folder.Get(), true);
  if (!own) return own.error().Context(path);
  return Ok();
}

Expected<SharedFile> SharedFile::Open(const std::string& path, bool create) {
  win32::UniqueHandle file(
      OpenEntry(path, GENERIC_READ | GENERIC_WRITE | READ_CONTROL, create ? OPEN_ALWAYS : OPEN_EXISTING, 0));
  if (!file.Valid()) return LastSystemError();
  Status own = CheckOwn(file.Get(), false);
  if (!own) return own.error();
  return SharedFile(reinterpret_cast<std::intptr_t>(file.Release()));
}

void SharedFile::Close() {
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
  handle_ = -1;
}

Expected<std::uint64_t> SharedFile::Size() const {
  LARGE_INTEGER size{};
  if (!::GetFileSizeEx(AsHandle(handle_), &size)) return LastSystemError();
  return static_cast<std::uint64_t>(size.QuadPart);
}

Status SharedFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) const {
  auto* at = static_cast<char*>(buffer);
  while (count > 0) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
    DWORD got = 0;
    if (!::ReadFile(AsHandle(handle_), at, chunk, &got, &where)) {
      if (::GetLastError() != ERROR_HANDLE_EOF) return LastSystemError();
      got = 0;
    }
    if (got == 0) return Failure("the file is shorter than expected");
    at += got;
    count -= got;
    offset += got;
  }
  return Ok();
}

Status SharedFile::WriteAt(std::string_view bytes, std::uint64_t offset) {
  while (!bytes.empty()) {
    OVERLAPPED where{};
    where.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
    where.OffsetHigh = static_cast<DWORD>(offset >> 32);
    const DWORD chunk = bytes.size() > 0x40000000u ? 0x40000000u : static_cast<DWORD>(bytes.size());
    DWORD wrote = 0;
    if (!::WriteFile(AsHandle(handle_), bytes.data(), chunk, &wrote, &where)) return LastSystemError();
    if (wrote == 0) return Failure("nothing written");
    bytes.remove_prefix(wrote);
    offset += wrote;
  }
  return Ok();
}

Expected<bool> FileLock::TryLock(SharedFile& file) {
  OVERLAPPED whole{};
  if (::LockFileEx(AsHandle(file.handle_), LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &whole)) {
    return true;
  }
  if (::GetLastError() == ERROR_LOCK_VIOLATION) return false;
  return LastSystemError();
}

}  // namespace korbu::platform
