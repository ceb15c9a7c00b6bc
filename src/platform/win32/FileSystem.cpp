#include "platform/FileSystem.h"

#include <climits>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/Wildcard.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

using win32::UniqueHandle;
using win32::WidePath;

EntryInfo FromFindData(const WIN32_FIND_DATAW& d) {
  EntryInfo info;
  info.name = win32::Utf8(d.cFileName);
  info.attributes = d.dwFileAttributes;
  info.kind = win32::EntryKindOf(d.dwFileAttributes);
  if (info.kind == EntryKind::Regular) {
    info.size = (static_cast<std::uint64_t>(d.nFileSizeHigh) << 32) | d.nFileSizeLow;
  }
  info.creationTime = win32::ToTicks(d.ftCreationTime);
  info.lastAccessTime = win32::ToTicks(d.ftLastAccessTime);
  info.lastWriteTime = win32::ToTicks(d.ftLastWriteTime);
  return info;
}

DWORD ShareFlags(ShareMode share) {
  return share == ShareMode::DenyWrite ? FILE_SHARE_READ
                                       : FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
}

// A regular disk file open for reading; invalid for folders, devices and pipes.
UniqueHandle OpenForReading(const std::string& path, DWORD share) {
  const auto wide = WidePath(path);
  if (!wide) return UniqueHandle();
  UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ, share, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  if (h.Valid() && ::GetFileType(h.Get()) != FILE_TYPE_DISK) h.Reset();
  return h;
}

}  // namespace

std::optional<EntryInfo> GetEntryInfo(const std::string& path) {
  if (path.empty() || path.find_first_of("*?") != std::string::npos) return std::nullopt;
  // The attribute query also answers for drive roots, which a search does not list.
  const auto wide = WidePath(path);
  WIN32_FILE_ATTRIBUTE_DATA attributes;
  if (!wide || !::GetFileAttributesExW(wide->c_str(), GetFileExInfoStandard, &attributes)) return std::nullopt;
  WIN32_FIND_DATAW data{};
  data.dwFileAttributes = attributes.dwFileAttributes;
  data.ftCreationTime = attributes.ftCreationTime;
  data.ftLastAccessTime = attributes.ftLastAccessTime;
  data.ftLastWriteTime = attributes.ftLastWriteTime;
  data.nFileSizeHigh = attributes.nFileSizeHigh;
  data.nFileSizeLow = attributes.nFileSizeLow;
  EntryInfo info = FromFindData(data);
  info.name = ExtractFileName(path);
  return info;
}

bool FileExists(const std::string& path) {
  auto info = GetEntryInfo(path);
  return info && info->kind == EntryKind::Regular;
}

bool DirectoryExists(const std::string& path) {
  const auto wide = WidePath(path);
  if (!wide) return false;
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0 &&
         (attributes & FILE_ATTRIBUTE_REPARSE_POINT) == 0;
}

bool IsVirtualFileSystem(const std::string&) { return false; }
std::vector<std::string> RealMountsBelow(const std::string&) { return {}; }

Status ListFolder(const std::string& folder, const std::string& mask,
                  const std::function<bool(const EntryInfo&)>& visit) {
  auto wide = WidePath(folder);
  if (!wide) return LastSystemError();
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES) return LastSystemError();
  if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return SystemError(ERROR_DIRECTORY);
  if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return Failure("a link (reparse point), not followed");
  if (wide->back() != L'\\') wide->push_back(L'\\');
  wide->push_back(L'*');
  // Every entry is listed and matched here: the system's own matching also
  // compares short 8.3 names, which would report names the mask does not fit.
  WIN32_FIND_DATAW data;
  win32::UniqueFind find(::FindFirstFileExW(wide->c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                            FIND_FIRST_EX_LARGE_FETCH));
  if (!find.Valid()) {
    // A drive's root holds no "." and "..": with nothing else in it, nothing is found.
    const DWORD error = ::GetLastError();
    return error == ERROR_FILE_NOT_FOUND ? Ok() : SystemError(static_cast<int>(error));
  }
  do {
    const std::wstring_view name = data.cFileName;
    if (name == L"." || name == L"..") continue;
    EntryInfo info = FromFindData(data);
    if (!MatchesWildcard(info.name, mask)) continue;
    if (!visit(info)) return Ok();
  } while (::FindNextFileW(find.Get(), &data));
  const DWORD error = ::GetLastError();
  return error == ERROR_NO_MORE_FILES ? Ok() : SystemError(static_cast<int>(error));
}

Status ListSubfolders(const std::string& folder, const std::function<bool(const EntryInfo&)>& visit) {
  // The listing already holds every entry's attributes.
  return ListFolder(folder, "*", [&](const EntryInfo& info) {
    return info.kind != EntryKind::Directory || visit(info);
  });
}

Status SetFileAttributes(const std::string& path, std::uint32_t attributes) {
  const auto wide = WidePath(path);
  if (!wide) return LastSystemError();
  const DWORD old = ::GetFileAttributesW(wide->c_str());
  if (old == INVALID_FILE_ATTRIBUTES) return LastSystemError();
  if ((old & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Failure("it is a link (reparse point), whose attributes are never set", ERROR_CANT_ACCESS_FILE);
  }
  if (!::SetFileAttributesW(wide->c_str(), attributes)) return LastSystemError();
  return Ok();
}

bool CanOpenExclusively(const std::string& path) {
  const auto wide = WidePath(path);
  if (!wide) return false;
  UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                               FILE_ATTRIBUTE_NORMAL, nullptr));
  return h.Valid() && ::GetFileType(h.Get()) == FILE_TYPE_DISK;
}

Status DeleteFile(const std::string& path) {
  const auto wide = WidePath(path);
  if (!wide || !::DeleteFileW(wide->c_str())) return LastSystemError();
  return Ok();
}

Status RemoveDirectory(const std::string& path) {
  const auto wide = WidePath(path);
  if (!wide || !::RemoveDirectoryW(wide->c_str())) return LastSystemError();
  return Ok();
}

std::optional<InputFile> InputFile::Open(const std::string& path, ShareMode share) {
  UniqueHandle h = OpenForReading(path, ShareFlags(share));
  if (!h.Valid()) return std::nullopt;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(h.Get(), &size)) return std::nullopt;
  return InputFile(reinterpret_cast<std::intptr_t>(h.Release()), static_cast<std::uint64_t>(size.QuadPart));
}

InputFile::InputFile(InputFile&& other) noexcept : handle_(other.handle_), size_(other.size_) {
  other.handle_ = 0;
}

InputFile& InputFile::operator=(InputFile&& other) noexcept {
  if (this != &other) {
    if (handle_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
    handle_ = other.handle_;
    size_ = other.size_;
    other.handle_ = 0;
  }
  return *this;
}

InputFile::~InputFile() {
  if (handle_ != 0) ::CloseHandle(reinterpret_cast<HANDLE>(handle_));
}

std::int64_t InputFile::Read(void* buffer, std::size_t count) {
  const DWORD chunk = count > 0x40000000u ? 0x40000000u : static_cast<DWORD>(count);
  DWORD got = 0;
  if (!::ReadFile(reinterpret_cast<HANDLE>(handle_), buffer, chunk, &got, nullptr)) return -1;
  return static_cast<std::int64_t>(got);
}

std::int64_t InputFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
  LARGE_INTEGER here{};
  LARGE_INTEGER zero{};
  HANDLE h = reinterpret_cast<HANDLE>(handle_);
  if (!::SetFilePointerEx(h, zero, &here, FILE_CURRENT)) return -1;
  if (!Seek(offset)) return -1;
  const std::int64_t got = Read(buffer, count);
  ::SetFilePointerEx(h, here, nullptr, FILE_BEGIN);
  return got;
}

bool InputFile::Seek(std::uint64_t offset) {
  if (offset > static_cast<std::uint64_t>(LLONG_MAX)) return false;
  LARGE_INTEGER to;
  to.QuadPart = static_cast<LONGLONG>(offset);
  return ::SetFilePointerEx(reinterpret_cast<HANDLE>(handle_), to, nullptr, FILE_BEGIN) != 0;
}

std::optional<std::string> ReadWholeFile(const std::string& path, ShareMode share) {
  auto file = InputFile::Open(path, share);
  if (!file) return std::nullopt;
  if (file->Size() > static_cast<std::uint64_t>(SIZE_MAX / 2)) return std::nullopt;
  std::string content(static_cast<std::size_t>(file->Size()), '\0');
  std::size_t done = 0;
  while (done < content.size()) {
    const std::int64_t got = file->Read(content.data() + done, content.size() - done);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    done += static_cast<std::size_t>(got);
  }
  content.resize(done);
  char chunk[65536];
  while (true) {
    const std::int64_t got = file->Read(chunk, sizeof chunk);
    if (got < 0) return std::nullopt;
    if (got == 0) break;
    content.append(chunk, static_cast<std::size_t>(got));
  }
  return content;
}

std::optional<MappedFile> MappedFile::Open(const std::string& path) {
  UniqueHandle file = OpenForReading(path, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE);
  if (!file.Valid()) return std::nullopt;
  LARGE_INTEGER size;
  if (!::GetFileSizeEx(file.Get(), &size)) return std::nullopt;
  if (size.QuadPart == 0) return MappedFile(nullptr, 0);
  UniqueHandle mapping(::CreateFileMappingW(file.Get(), nullptr, PAGE_READONLY, 0, 0, nullptr));
  if (!mapping.Valid()) return std::nullopt;
  void* view = ::MapViewOfFile(mapping.Get(), FILE_MAP_READ, 0, 0, 0);
  if (view == nullptr) return std::nullopt;
  // The view keeps the mapping alive after both handles are closed.
  return MappedFile(static_cast<const unsigned char*>(view), static_cast<std::uint64_t>(size.QuadPart));
}

MappedFile::MappedFile(MappedFile&& other) noexcept : data_(other.data_), size_(other.size_) {
  other.data_ = nullptr;
  other.size_ = 0;
}

MappedFile& MappedFile::operator=(MappedFile&& other) noexcept {
  if (this != &other) {
    if (data_ != nullptr) ::UnmapViewOfFile(data_);
    data_ = other.data_;
    size_ = other.size_;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  return *this;
}

MappedFile::~MappedFile() {
  if (data_ != nullptr) ::UnmapViewOfFile(data_);
}

Status ReplaceFileAtomically(const std::string& path, const std::string& content) {
  const auto wide = WidePath(path);
  if (!wide) return LastSystemError();
  const DWORD old = ::GetFileAttributesW(wide->c_str());
  if (old != INVALID_FILE_ATTRIBUTES &&
      (old & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) != 0) {
    return Failure("it is not a regular file", ERROR_INVALID_FUNCTION);
  }
  const std::string tempPath = ExtractFilePath(path) + "~" + ExtractFileName(path) + "." +
                               std::to_string(::GetCurrentProcessId()) + ".tmp";
  const auto temp = WidePath(tempPath);
  if (!temp) return LastSystemError();
  Status written = Ok();
  {
    UniqueHandle h(::CreateFileW(temp->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                                 FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return LastSystemError().Context("a new file beside it");
    std::size_t done = 0;
    while (written && done < content.size()) {
      const std::size_t left = content.size() - done;
      const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
      DWORD wrote = 0;
      if (!::WriteFile(h.Get(), content.data() + done, chunk, &wrote, nullptr)) {
        written = LastSystemError();
      } else if (wrote == 0) {
        written = Failure("nothing more could be written", ERROR_WRITE_FAULT);
      }
      done += wrote;
    }
    if (written && !::FlushFileBuffers(h.Get())) written = LastSystemError();
  }
  if (written && !::MoveFileExW(temp->c_str(), wide->c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
    written = LastSystemError();
  }
  if (!written) {
    ::DeleteFileW(temp->c_str());
    return written;
  }
  return Ok();
}

}  // namespace korbu::platform
