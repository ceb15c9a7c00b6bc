// Processes through the tool-help snapshot, whose entries are looked up at run
// time in kernel32.dll as systems without them must still start the program.
#include "platform/Processes.h"


#include <algorithm>
#include <atomic>
#include <map>
#include <optional>

#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/win32/WindowsSupport.h"

namespace korbu::platform {
namespace {

using win32::UniqueHandle;
using SnapshotFn = HANDLE(WINAPI*)(DWORD, DWORD);
using WalkFn = BOOL(WINAPI*)(HANDLE, LPPROCESSENTRY32W);

struct ToolHelp {
  SnapshotFn snapshot = nullptr;
  WalkFn first = nullptr;
  WalkFn next = nullptr;
};

template <typename Fn>
Fn Lookup(HMODULE module, const char* name) {
  FARPROC address = ::GetProcAddress(module, name);
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(address));
}

const ToolHelp& Entries() {
  static const ToolHelp entries = [] {
    ToolHelp t;
    HMODULE kernel = ::GetModuleHandleW(L"kernel32.dll");
    if (kernel == nullptr) return t;
    t.snapshot = Lookup<SnapshotFn>(kernel, "CreateToolhelp32Snapshot");
    t.first = Lookup<WalkFn>(kernel, "Process32FirstW");
    t.next = Lookup<WalkFn>(kernel, "Process32NextW");
    return t;
  }();
  return entries;
}

// The debug privilege lets the program open other users' processes; without it
// the snapshot still works for the user's own.
void EnableDebugPrivilege() {
  static const bool done = [] {
    HANDLE raw = nullptr;
    if (!::OpenProcessToken(::GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES | TOKEN_QUERY, &raw)) return true;
    UniqueHandle token(raw);
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    privileges.Privileges[0].Attributes = SE_PRIVILEGE_ENABLED;
    if (::LookupPrivilegeValueW(nullptr, L"SeDebugPrivilege", &privileges.Privileges[0].Luid)) {
      ::AdjustTokenPrivileges(token.Get(), FALSE, &privileges, 0, nullptr, nullptr);
    }
    return true;
  }();
  (void)done;
}

std::atomic<bool> onlyDescendants{false};

// Whether a process descends from the program, by the parents the snapshot names.
bool Descends(std::uint32_t id, std::uint32_t self, const std::map<std::uint32_t, std::uint32_t>& parents) {
  for (int depth = 0; depth < 4096 && id != 0; ++depth) {
    if (id == self) return true;
    const auto up = parents.find(id);
    if (up == parents.end() || up->second == id) return false;
    id = up->second;
  }
  return false;
}

// The image of an open process in the system's Win32 form. Paths of any length
// fit: the system's own limit is 32,767 characters.
Expected<std::string> ImageOf(HANDLE process) {
  std::wstring buffer(32768, L'\0');
  DWORD size = static_cast<DWORD>(buffer.size());
  if (!::QueryFullProcessImageNameW(process, 0, buffer.data(), &size)) return LastSystemError();
  return win32::Utf8(std::wstring_view(buffer).substr(0, size));
}

// Refuses what no request may end: no process at all, and the program itself.
Status CanTarget(std::uint32_t id) {
  if (id == 0) return Failure("no process has id 0");
  if (id == ::GetCurrentProcessId()) return Failure("it is the scanner's own process");
  return Ok();
}

Status Terminate(HANDLE process) {
  if (::TerminateProcess(process, 0) != 0) return Ok();
  return LastSystemError();
}

}  // namespace

void LimitSnapshotsToDescendants() { onlyDescendants = true; }

Expected<std::string> ProcessImagePath(std::uint32_t id) {
  EnableDebugPrivilege();
  UniqueHandle process(::OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process.Valid()) return LastSystemError().Context("process " + std::to_string(id));
  return ImageOf(process.Get());
}

Expected<std::vector<ProcessInfo>> SnapshotProcesses() {
  const ToolHelp& t = Entries();
  if (t.snapshot == nullptr || t.first == nullptr || t.next == nullptr) {
    return Failure("this system offers no process snapshot");
  }
  EnableDebugPrivilege();
  UniqueHandle snapshot(t.snapshot(TH32CS_SNAPPROCESS, 0));
  if (!snapshot.Valid()) return LastSystemError().Context("no process snapshot");
  PROCESSENTRY32W entry{};
  entry.dwSize = sizeof entry;
  std::vector<ProcessInfo> others;
  ProcessInfo self;
  const DWORD selfId = ::GetCurrentProcessId();
  if (!t.first(snapshot.Get(), &entry)) return LastSystemError().Context("the process snapshot cannot be read");
  std::map<std::uint32_t, std::uint32_t> parents;
  do {
    if (entry.th32ProcessID == 0) continue;  // the idle process is no program
    parents[entry.th32ProcessID] = entry.th32ParentProcessID;
    ProcessInfo info;
    info.id = entry.th32ProcessID;
    if (auto image = ProcessImagePath(info.id)) info.imagePath = std::move(*image);
    info.basePriority = static_cast<std::int32_t>(entry.pcPriClassBase);
    info.threadCount = static_cast<std::int32_t>(entry.cntThreads);
    if (info.id == selfId) self = std::move(info);
    else others.push_back(std::move(info));
    entry.dwSize = sizeof entry;
  } while (t.next(snapshot.Get(), &entry));
  if (onlyDescendants) std::erase_if(others, [&](const ProcessInfo& p) { return !Descends(p.id, selfId, parents); });
  std::sort(others.begin(), others.end(), [](const ProcessInfo& a, const ProcessInfo& b) { return a.id < b.id; });
  std::vector<ProcessInfo> all;
  all.reserve(others.size() + 1);
  if (self.id == 0) {
    self.id = selfId;
    self.imagePath = ExecutablePath();
  }
  all.push_back(std::move(self));
  for (auto& info : others) all.push_back(std::move(info));
  return all;
}

Status TerminateProcess(std::uint32_t id) {
  if (Status target = CanTarget(id); !target) return target;
  EnableDebugPrivilege();
  UniqueHandle process(::OpenProcess(PROCESS_TERMINATE, FALSE, id));
  if (!process.Valid()) return LastSystemError();
  return Terminate(process.Get());
}

namespace {

std::optional<BY_HANDLE_FILE_INFORMATION> FileIdentity(const std::string& path) {
  const auto wide = win32::WidePath(path);
  if (!wide) return std::nullopt;
  const HANDLE file = ::CreateFileW(wide->c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION info{};
  const bool read = ::GetFileInformationByHandle(file, &info) != FALSE;
  ::CloseHandle(file);
  if (!read || (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) return std::nullopt;
  return info;
}

}  // namespace

bool SameImageFile(const std::string& a, const std::string& b) {
  if (a.empty() || b.empty()) return false;
  const auto first = FileIdentity(a);
  const auto second = FileIdentity(b);
  return first && second && first->dwVolumeSerialNumber == second->dwVolumeSerialNumber &&
         first->nFileIndexHigh == second->nFileIndexHigh && first->nFileIndexLow == second->nFileIndexLow;
}

bool SameImageFile(const std::string& image, const FileStatus& file) {
  const auto info = image.empty() ? std::nullopt : FileIdentity(image);
  return info && info->dwVolumeSerialNumber == file.device &&
         ((static_cast<std::uint64_t>(info->nFileIndexHigh) << 32) | info->nFileIndexLow) == file.index;
}

Status TerminateProcessRunning(std::uint32_t id, const std::string& image) {
  if (Status target = CanTarget(id); !target) return target;
  if (image.empty()) return Failure("the program the process runs is not known");
  EnableDebugPrivilege();
  // One handle for the check and the kill: the id cannot be reused in between.
  UniqueHandle process(::OpenProcess(PROCESS_TERMINATE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, id));
  if (!process.Valid()) return LastSystemError();
  const auto running = ImageOf(process.Get());
  if (!running) return running.error();
  if (*running != image) return Failure("the process runs another program now");
  return Terminate(process.Get());
}

std::uint32_t CurrentProcessId() { return ::GetCurrentProcessId(); }

}  // namespace korbu::platform
