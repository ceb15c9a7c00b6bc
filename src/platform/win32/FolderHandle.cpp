// Folders held as handles. Every folder on the path is held open without sharing
// the right to delete, so none of them can be renamed, removed or replaced by a
// junction while it is held; a reparse point on the path is refused. The entries
// are then reached by their path below those held folders.
#include "platform/FolderHandle.h"

#include <utility>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {

struct Folder::Handle {
  Handle(HANDLE folder, std::shared_ptr<const Handle> up) : h(folder), parent(std::move(up)) {}
  ~Handle() { ::CloseHandle(h); }
  Handle(const Handle&) = delete;
  Handle& operator=(const Handle&) = delete;
  HANDLE h;
  std::shared_ptr<const Handle> parent;  // held as long as this folder is
};

namespace {

using win32::UniqueHandle;
using win32::WidePath;

Error NotPlain(const std::string& name) { return Failure("not a plain file name: " + name, ERROR_INVALID_NAME); }

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

using HeldHandle = std::shared_ptr<const Folder::Handle>;

// A real folder held so that nobody can rename or delete it meanwhile.
Expected<HeldHandle> HoldFolder(const std::string& path, HeldHandle parent) {
  const auto wide = WidePath(path);
  if (!wide) return LastSystemError().Context(path);
  UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) return LastSystemError().Context(path);
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.Get(), &info)) return LastSystemError().Context(path);
  switch (win32::EntryKindOf(info.dwFileAttributes)) {
    case EntryKind::Directory: return std::make_shared<const Folder::Handle>(h.Release(), std::move(parent));
    case EntryKind::Link: return Failure(path + ": a link (reparse point), not followed", ERROR_CANT_ACCESS_FILE);
    default: return SystemError(ERROR_DIRECTORY).Context(path);
  }
}

bool WriteAll(HANDLE h, const std::string& content) {
  std::size_t done = 0;
  while (done < content.size()) {
    const std::size_t left = content.size() - done;
    const DWORD chunk = left > 0x40000000u ? 0x40000000u : static_cast<DWORD>(left);
    DWORD wrote = 0;
    if (!::WriteFile(h, content.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

}  // namespace

Expected<Folder> Folder::Child(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  auto handle = HoldFolder(PathOf(name), handle_);
  if (!handle) return handle.error();
  return Folder(std::move(*handle), PathOf(name));
}

Expected<EntryInfo> Folder::Entry(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  // A mask is no name; anything else that fails, fails in the system's call.
  if (name.find_first_of("*?") != std::string::npos) return NotPlain(name);
  auto entry = GetEntryInfo(PathOf(name));
  if (!entry) return LastSystemError().Context(PathOf(name));
  return std::move(*entry);
}

Status Folder::List(const std::string& mask, const std::function<bool(const EntryInfo&)>& visit) const {
  return ListFolder(path_, mask, visit);
}

Expected<InputFile> Folder::OpenFile(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  const std::string path = PathOf(name);
  const auto wide = WidePath(path);
  if (!wide) return LastSystemError().Context(path);
  UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) return LastSystemError().Context(path);
  if (::GetFileType(h.Get()) != FILE_TYPE_DISK) return Failure(path + " is not a regular file");
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.Get(), &info)) return LastSystemError().Context(path);
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Failure(path + " is a link (reparse point), not followed", ERROR_CANT_ACCESS_FILE);
  }
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return Failure(path + " is a folder, not a regular file", ERROR_DIRECTORY);
  const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return InputFile(reinterpret_cast<std::intptr_t>(h.Release()), size);
}

Status Folder::SetAttributes(const std::string& name, std::uint32_t attributes) const {
  if (!IsPlainName(name)) return NotPlain(name);
  return platform::SetFileAttributes(PathOf(name), attributes);
}

bool Folder::CanOpenExclusively(const std::string& name) const {
  return IsPlainName(name) && platform::CanOpenExclusively(PathOf(name));
}

Status Folder::DeleteFile(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  const auto wide = WidePath(PathOf(name));
  if (!wide || !::DeleteFileW(wide->c_str())) return LastSystemError();
  return Ok();
}

Status Folder::CreateNewFile(const std::string& name, const std::string& content) const {
  if (!IsPlainName(name)) return NotPlain(name);
  const std::string where = PathOf(name);
  const auto path = WidePath(where);
  if (!path) return LastSystemError().Context(where);
  Status written = Ok();
  {
    UniqueHandle h(::CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) {
      const DWORD error = ::GetLastError();
      if (error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS) {
        return Error{"something else is already at " + where, static_cast<int>(error), ErrorKind::NameTaken};
      }
      return SystemError(static_cast<int>(error)).Context(where);
    }
    if (!WriteAll(h.Get(), content) || ::FlushFileBuffers(h.Get()) == 0) written = LastSystemError().Context(where);
  }
  if (!written) ::DeleteFileW(path->c_str());
  return written;
}

Status Folder::MoveTo(const std::string& name, const Folder& target, const std::string& newName) const {
  if (!IsPlainName(name)) return NotPlain(name);
  if (!IsPlainName(newName)) return NotPlain(newName);
  const auto from = WidePath(PathOf(name));
  const auto to = WidePath(target.PathOf(newName));
  if (!from || !to) return LastSystemError();
  if (::MoveFileExW(from->c_str(), to->c_str(), MOVEFILE_WRITE_THROUGH)) return Ok();
  const DWORD error = ::GetLastError();
  if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
    return Error{target.PathOf(newName) + " is taken", static_cast<int>(error), ErrorKind::NameTaken};
  }
  return SystemError(static_cast<int>(error));
}

bool Folder::SameVolume(const Folder& other) const {
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  return ::GetFileInformationByHandle(handle_->h, &a) && ::GetFileInformationByHandle(other.handle_->h, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber;
}

std::intptr_t Folder::NativeHandle() const { return reinterpret_cast<std::intptr_t>(handle_->h); }

// Owners, POSIX modes and the records' privacy: Windows keeps none of them as
// POSIX does. A file's mode is its read-only attribute (0444 or 0644), owners are
// left as the system gives them, and the records are private by the access rules
// of the user's profile.

namespace {

// CreateFileW on the program's path; a path the system cannot name fails as the
// call would, with the thread's last error saying why.
HANDLE CreateAt(const std::string& path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
  const auto wide = WidePath(path);
  if (!wide) return INVALID_HANDLE_VALUE;
  return ::CreateFileW(wide->c_str(), access, share, nullptr, disposition, flags, nullptr);
}

FileStatus StatusFromInfo(const BY_HANDLE_FILE_INFORMATION& info) {
  FileStatus status;
  status.kind = win32::EntryKindOf(info.dwFileAttributes);
  if (status.kind == EntryKind::Regular) {
    status.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  }
  status.lastWriteTime = win32::ToTicks(info.ftLastWriteTime);
  status.mode = (info.dwFileAttributes & FILE_ATTRIBUTE_READONLY) != 0 ? 0444 : 0644;
  status.device = info.dwVolumeSerialNumber;
  status.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return status;
}

Expected<FileStatus> StatusOfHandle(HANDLE h) {
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h, &info)) return LastSystemError();
  return StatusFromInfo(info);
}

}  // namespace

bool IsPrivateToUser(const FileStatus&) { return true; }

Status CheckTrustedFolder(const std::string& path) {
  Expected<Folder> held = Folder::Open(path);
  if (!held) return held.error();
  return Ok();
}

Expected<Folder> Folder::Open(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.size() < 3 || full[1] != ':') return SystemError(ERROR_BAD_PATHNAME).Context(path);
  std::string current = full.substr(0, 2) + "\\";
  auto handle = HoldFolder(current, nullptr);
  std::size_t start = 3;
  while (handle && start < full.size()) {
    std::size_t end = full.find('\\', start);
    if (end == std::string::npos) end = full.size();
    if (end > start) {
      current = IncludeTrailingDelimiter(current) + full.substr(start, end - start);
      handle = HoldFolder(current, *handle);
    }
    start = end + 1;
  }
  if (!handle) return handle.error();
  return Folder(std::move(*handle), current);
}

Expected<FileStatus> Folder::OwnStatus() const { return StatusOfHandle(handle_->h); }

Expected<FileStatus> Folder::StatusOf(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  UniqueHandle h(CreateAt(PathOf(name), FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                          OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!h.Valid()) return LastSystemError().Context(PathOf(name));
  return StatusOfHandle(h.Get());
}

Expected<Folder::HeldFile> Folder::OpenRegular(const std::string& name) const {
  auto file = OpenFile(name);
  if (!file) return file.error();
  auto status = StatusOfHandle(reinterpret_cast<HANDLE>(file->handle_));
  if (!status) return status.error();
  return HeldFile{std::move(*file), *status};
}

Expected<DurableFile> Folder::OpenForAppend(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  UniqueHandle h(CreateAt(PathOf(name), FILE_APPEND_DATA, FILE_SHARE_READ, OPEN_EXISTING,
                          FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT));
  if (!h.Valid()) return LastSystemError().Context(PathOf(name));
  const auto status = StatusOfHandle(h.Get());
  if (!status) return status.error();
  if (status->kind != EntryKind::Regular) return Failure(PathOf(name) + " is not a regular file");
  return DurableFile(reinterpret_cast<std::intptr_t>(h.Release()));
}

Status Folder::Sync() const { return Ok(); }  // NTFS orders its own metadata

// Windows flushes one file at a time; a whole volume only for an administrator.
Status Folder::SyncWithFiles() const {
  Status synced = Ok();
  const Status listed = List("*", [&](const EntryInfo& entry) {
    if (entry.kind != EntryKind::Regular) return true;
    auto file = OpenForAppend(entry.name);
    if (!file) {
      synced = file.error();
    } else if (!file->Sync()) {
      synced = LastSystemError().Context(PathOf(entry.name));
    }
    return true;
  });
  if (!listed) return listed;
  return synced;
}

Status Folder::RemoveEmptyFolder(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  const std::string path = PathOf(name);
  const auto wide = WidePath(path);
  if (!wide) return LastSystemError().Context(path);
  const DWORD attributes = ::GetFileAttributesW(wide->c_str());
  if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return Failure(path + " is a link");
  }
  if (!::RemoveDirectoryW(wide->c_str())) return LastSystemError().Context(path);
  return Ok();
}

Expected<Folder> Folder::MakeChild(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  const auto wide = WidePath(PathOf(name));
  if (!wide || !::CreateDirectoryW(wide->c_str(), nullptr)) return LastSystemError().Context(PathOf(name));
  auto handle = HoldFolder(PathOf(name), handle_);
  if (!handle) return handle.error();
  return Folder(std::move(*handle), PathOf(name));
}

Expected<NewFile> Folder::BeginFile(const std::string& name) const {
  if (!IsPlainName(name)) return NotPlain(name);
  for (unsigned attempt = 0; attempt < 100; ++attempt) {
    const std::string temp = name.substr(0, 200) + "." + std::to_string(::GetTickCount() + attempt) + ".tmp";
    HANDLE h = CreateAt(PathOf(temp), GENERIC_WRITE | GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, CREATE_NEW,
                        FILE_ATTRIBUTE_NORMAL);
    if (h != INVALID_HANDLE_VALUE) return NewFile(*this, name, temp, DurableFile(reinterpret_cast<std::intptr_t>(h)));
    if (::GetLastError() != ERROR_FILE_EXISTS) break;
  }
  return LastSystemError().Context("a new file beside " + PathOf(name));
}

Status Folder::RewriteFile(const std::string& name, std::string_view content) const {
  if (!IsPlainName(name)) return NotPlain(name);
  return ReplaceFileAtomically(PathOf(name), std::string(content));
}

NewFile::~NewFile() {
  if (committed_ || file_.handle_ == -1) return;
  file_ = DurableFile(-1);
  if (const auto wide = WidePath(folder_.PathOf(tempName_))) ::DeleteFileW(wide->c_str());
}

Status NewFile::SetOwner(std::uint32_t, std::uint32_t) { return Ok(); }  // no POSIX owner on Windows

Status NewFile::GiveOwnerIfPermitted(std::uint32_t owner, std::uint32_t group) { return SetOwner(owner, group); }

Status NewFile::SetMode(unsigned mode) {
  FILE_BASIC_INFO info{};
  info.FileAttributes = (mode & 0200) == 0 ? FILE_ATTRIBUTE_READONLY : FILE_ATTRIBUTE_NORMAL;
  if (!::SetFileInformationByHandle(reinterpret_cast<HANDLE>(file_.handle_), FileBasicInfo, &info, sizeof info)) {
    return LastSystemError();
  }
  return Ok();
}

Expected<FileStatus> NewFile::OwnStatus() const { return StatusOfHandle(reinterpret_cast<HANDLE>(file_.handle_)); }

Status NewFile::Finish(bool replace, bool sync) {
  if (committed_) return Ok();
  if (sync && !file_.Sync()) return LastSystemError().Context(folder_.PathOf(name_));
  const DWORD flags = (sync ? MOVEFILE_WRITE_THROUGH : 0) | (replace ? MOVEFILE_REPLACE_EXISTING : 0);
  const auto from = WidePath(folder_.PathOf(tempName_));
  const auto to = WidePath(folder_.PathOf(name_));
  if (!from || !to || !::MoveFileExW(from->c_str(), to->c_str(), flags)) {
    const DWORD error = ::GetLastError();
    if (error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS) {
      return Error{"something else is already at " + folder_.PathOf(name_), ERROR_FILE_EXISTS, ErrorKind::NameTaken};
    }
    return SystemError(static_cast<int>(error)).Context(folder_.PathOf(name_));
  }
  committed_ = true;
  return Ok();
}

}  // namespace korbu::platform
