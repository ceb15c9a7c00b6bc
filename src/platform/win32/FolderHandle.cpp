// Folders held as handles. Every folder on the path is held open without sharing
// the right to delete, so none of them can be renamed, removed or replaced by a
// junction while it is held; a reparse point on the path is refused. The entries
// are then reached by their path below those held folders.
#include "platform/FolderHandle.h"

#include "platform/Path.h"
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

bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." && name.find_first_of("\\/:*?\"<>|") == std::string::npos &&
         name.find('\0') == std::string::npos;
}

// A real folder held so that nobody can rename or delete it meanwhile.
std::shared_ptr<const Folder::Handle> HoldFolder(const std::string& path, std::shared_ptr<const Folder::Handle> parent) {
  const auto wide = WidePath(path);
  if (!wide) return nullptr;
  UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                               OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid()) return nullptr;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.Get(), &info)) return nullptr;
  if ((info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0 ||
      (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
    return nullptr;
  }
  return std::make_shared<const Folder::Handle>(h.Release(), std::move(parent));
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

std::optional<Folder> Folder::Open(const std::string& path) {
  const std::string full = FullPath(path);
  if (full.size() < 3 || full[1] != ':') return std::nullopt;
  std::string current = full.substr(0, 2) + "\\";
  auto handle = HoldFolder(current, nullptr);
  std::size_t start = 3;
  while (handle && start < full.size()) {
    std::size_t end = full.find('\\', start);
    if (end == std::string::npos) end = full.size();
    if (end > start) {
      current = IncludeTrailingDelimiter(current) + full.substr(start, end - start);
      handle = HoldFolder(current, handle);
    }
    start = end + 1;
  }
  if (!handle) return std::nullopt;
  return Folder(std::move(handle), current);
}

std::optional<Folder> Folder::Child(const std::string& name) const {
  if (!IsPlainName(name)) return std::nullopt;
  auto handle = HoldFolder(PathOf(name), handle_);
  if (!handle) return std::nullopt;
  return Folder(std::move(handle), PathOf(name));
}

std::optional<EntryInfo> Folder::Entry(const std::string& name) const {
  if (!IsPlainName(name)) return std::nullopt;
  return GetEntryInfo(PathOf(name));
}

Status Folder::List(const std::string& mask, const std::function<bool(const EntryInfo&)>& visit) const {
  return ListFolder(path_, mask, visit);
}

std::optional<InputFile> Folder::OpenFile(const std::string& name) const {
  if (!IsPlainName(name)) return std::nullopt;
  const auto wide = WidePath(PathOf(name));
  if (!wide) return std::nullopt;
  UniqueHandle h(::CreateFileW(wide->c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                               nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
  if (!h.Valid() || ::GetFileType(h.Get()) != FILE_TYPE_DISK) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info;
  if (!::GetFileInformationByHandle(h.Get(), &info) ||
      (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
    return std::nullopt;
  }
  const std::uint64_t size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
  return InputFile(reinterpret_cast<std::intptr_t>(h.Release()), size);
}

bool Folder::SetAttributes(const std::string& name, std::uint32_t attributes) const {
  if (!IsPlainName(name)) return false;
  const std::string path = PathOf(name);
  const auto wide = WidePath(path);
  if (!wide) return false;
  const DWORD old = ::GetFileAttributesW(wide->c_str());
  if (old == INVALID_FILE_ATTRIBUTES || (old & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return false;
  return platform::SetFileAttributes(path, attributes);
}

bool Folder::CanOpenExclusively(const std::string& name) const {
  return IsPlainName(name) && platform::CanOpenExclusively(PathOf(name));
}

bool Folder::DeleteFile(const std::string& name) const {
  return IsPlainName(name) && platform::DeleteFile(PathOf(name));
}

bool Folder::CreateNewFile(const std::string& name, const std::string& content) const {
  if (!IsPlainName(name)) return false;
  const auto path = WidePath(PathOf(name));
  if (!path) return false;
  bool ok = false;
  {
    UniqueHandle h(::CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!h.Valid()) return false;
    ok = WriteAll(h.Get(), content) && ::FlushFileBuffers(h.Get()) != 0;
  }
  if (!ok) ::DeleteFileW(path->c_str());
  return ok;
}

bool Folder::ReplaceContent(const std::string& name, const std::string& content) const {
  return IsPlainName(name) && ReplaceFileAtomically(PathOf(name), content);
}

bool Folder::MoveTo(const std::string& name, const Folder& target, const std::string& newName, bool& taken) const {
  taken = false;
  if (!IsPlainName(name) || !IsPlainName(newName)) return false;
  const auto from = WidePath(PathOf(name));
  const auto to = WidePath(target.PathOf(newName));
  if (!from || !to) return false;
  if (::MoveFileExW(from->c_str(), to->c_str(), MOVEFILE_WRITE_THROUGH)) return true;
  const DWORD error = ::GetLastError();
  taken = error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS;
  return false;
}

bool Folder::SameVolume(const Folder& other) const {
  BY_HANDLE_FILE_INFORMATION a;
  BY_HANDLE_FILE_INFORMATION b;
  return ::GetFileInformationByHandle(handle_->h, &a) && ::GetFileInformationByHandle(other.handle_->h, &b) &&
         a.dwVolumeSerialNumber == b.dwVolumeSerialNumber;
}

std::intptr_t Folder::NativeHandle() const { return reinterpret_cast<std::intptr_t>(handle_->h); }

}  // namespace korbu::platform
