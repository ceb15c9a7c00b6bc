#include "platform/OpenedFile.h"

#include <fcntl.h>
#include <io.h>

#include <climits>
#include <utility>

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

constexpr char kNotRegular[] = "not a regular file";

std::string ErrorText(DWORD error) {
  switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
      return "No such file or directory";
    case ERROR_ACCESS_DENIED:
      return "Permission denied";
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return "in use by another program";
    case ERROR_CANT_ACCESS_FILE:
    case ERROR_CANT_RESOLVE_FILENAME:
      return kNotRegular;
    default:
      return "Input/output error";
  }
}

HANDLE AsHandle(std::intptr_t h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace

OpenedFile OpenedFile::Open(const std::string& path) {
  OpenedFile file;
  // The reparse point itself is opened, never what it points to; a folder cannot
  // be opened without backup semantics.
  const auto wide = win32::WidePath(path);
  if (!wide) {
    file.error_ = ErrorText(ERROR_INVALID_NAME);
    return file;
  }
  win32::UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) {
    const DWORD error = ::GetLastError();
    // A folder is refused as access denied; say what it is instead.
    const DWORD attributes = ::GetFileAttributesW(wide->c_str());
    const bool folder = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    file.error_ = error == ERROR_ACCESS_DENIED && folder ? kNotRegular : ErrorText(error);
    return file;
  }
  BY_HANDLE_FILE_INFORMATION info{};
  if (::GetFileType(h.Get()) != FILE_TYPE_DISK || !::GetFileInformationByHandle(h.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    file.error_ = kNotRegular;
    return file;
  }
  file.size_ = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  file.handle_ = reinterpret_cast<std::intptr_t>(h.Release());
  return file;
}

void OpenedFile::Close() {
  // The descriptor owns a duplicate of the handle and closes that itself.
  if (descriptor_ >= 0) ::_close(descriptor_);
  if (handle_ != -1) ::CloseHandle(AsHandle(handle_));
  handle_ = -1;
  descriptor_ = -1;
}

bool OpenedFile::IsOpen() const { return handle_ != -1; }

std::int64_t OpenedFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
  if (handle_ == -1 || offset > static_cast<std::uint64_t>(LLONG_MAX)) return -1;
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(offset & 0xFFFFFFFFu);
  at.OffsetHigh = static_cast<DWORD>(offset >> 32);
  const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  DWORD got = 0;
  if (!::ReadFile(AsHandle(handle_), buffer, chunk, &got, &at)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_HANDLE_EOF) return 0;
    error_ = ErrorText(error);
    return -1;
  }
  return static_cast<std::int64_t>(got);
}

int OpenedFile::Descriptor() {
  if (handle_ == -1) return -1;
  if (descriptor_ >= 0) return descriptor_;
  HANDLE copy = nullptr;
  const HANDLE self = ::GetCurrentProcess();
  if (!::DuplicateHandle(self, AsHandle(handle_), self, &copy, 0, FALSE, DUPLICATE_SAME_ACCESS)) return -1;
  descriptor_ = ::_open_osfhandle(reinterpret_cast<std::intptr_t>(copy), _O_RDONLY | _O_BINARY);
  if (descriptor_ < 0) ::CloseHandle(copy);
  return descriptor_;
}

}  // namespace korbu::platform
