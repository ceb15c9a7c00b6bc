#include "platform/Processes.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/syscall.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <map>
#include <memory>
#include <optional>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/ProcessImage.h"
#include "platform/wine/WineProcessImage.h"
#include "platform/wine/WineServers.h"

namespace korbu::platform {
namespace {

using posix::UniqueFd;

// Called through syscall(): the C library's wrappers are recent and, in some
// versions, not declared for C++.
int PidfdOpen(pid_t pid) {
#ifdef SYS_pidfd_open
  return static_cast<int>(::syscall(SYS_pidfd_open, pid, 0));
#else
  (void)pid;
  errno = ENOSYS;
  return -1;
#endif
}

Status PidfdKill(int pidfd) {
#ifdef SYS_pidfd_send_signal
  if (::syscall(SYS_pidfd_send_signal, pidfd, SIGKILL, nullptr, 0) == 0) return Ok();
  return LastSystemError();
#else
  (void)pidfd;
  return SystemError(ENOSYS);
#endif
}

UniqueFd OpenProcFolder(std::uint32_t id) {
  std::string folder = "/proc/" + std::to_string(id);
  return UniqueFd(posix::RetryOnEintr(
      [&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
}

std::atomic<bool> onlyDescendants{false};

// Reads one process; empty when it has ended or is a kernel thread. servers
// tells a Wine program's prefix, and is looked up the first time one is met.
std::optional<ProcessInfo> ReadProcess(std::uint32_t id, std::optional<posix::WineServers>& servers,
                                       std::uint32_t* parent = nullptr) {
  UniqueFd folder = OpenProcFolder(id);
  if (!folder.Valid()) return std::nullopt;
  auto statLine = posix::ReadProcFile(folder.Get(), "stat");
  if (!statLine) return std::nullopt;
  auto stat = posix::ParseProcStat(*statLine);
  if (!stat || (stat->flags & posix::kKernelThreadFlag) != 0) return std::nullopt;
  ProcessInfo info;
  info.id = id;
  info.imagePath = posix::ReadProcessImage(folder.Get());
  info.basePriority = stat->priority;
  info.threadCount = stat->threadCount;
  if (posix::IsWineLoader(posix::ExecutablePath(folder.Get()))) {
    if (!servers) servers = posix::WineServers::Find();
    posix::WineSystemOf system = servers->SystemOf(folder.Get());
    info.winePrefix = std::move(system.prefix);
    info.wineSystemDoubt = std::move(system.doubt);
  }
  if (parent != nullptr) *parent = stat->parent;
  return info;
}

Expected<std::vector<std::uint32_t>> ListProcessIds() {
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir("/proc"), ::closedir);
  if (!dir) return LastSystemError().Context("/proc cannot be listed");
  std::vector<std::uint32_t> ids;
  while (const dirent* entry = ::readdir(dir.get())) {
    std::string_view name = entry->d_name;
    std::uint32_t id = 0;
    auto [stop, error] = std::from_chars(name.data(), name.data() + name.size(), id);
    if (error == std::errc() && stop == name.data() + name.size() && id != 0) ids.push_back(id);
  }
  std::sort(ids.begin(), ids.end());
  return ids;
}

Status CanTarget(std::uint32_t id) {
  if (id == 0 || id > static_cast<std::uint32_t>(INT_MAX)) return Failure("no process has id " + std::to_string(id));
  if (id == CurrentProcessId()) return Failure("it is the scanner's own process");
  return Ok();
}

// With a pidfd the signal reaches exactly the process whose image was checked:
// if that process ends and its id is handed to another one after the check, the
// signal fails instead of striking the newcomer.
Status Terminate(std::uint32_t id, const std::string* image) {
  if (Status target = CanTarget(id); !target) return target;
  const auto pid = static_cast<pid_t>(id);
  UniqueFd handle(PidfdOpen(pid));
  if (!handle.Valid() && errno != ENOSYS) return LastSystemError();  // gone, or not ours to see
  if (image != nullptr) {
    UniqueFd folder = OpenProcFolder(id);
    if (!folder.Valid()) return LastSystemError();
    if (posix::ReadProcessImage(folder.Get()) != *image) return Failure("the process runs another program now");
  }
  if (handle.Valid()) return PidfdKill(handle.Get());
  // Kernels before 5.3 have no pidfd; the window between check and kill remains.
  if (::kill(pid, SIGKILL) == 0) return Ok();
  return LastSystemError();
}

}  // namespace

Expected<std::vector<ProcessInfo>> SnapshotProcesses() {
  auto listed = ListProcessIds();
  if (!listed) return listed.error();
  const std::vector<std::uint32_t>& ids = *listed;
  std::vector<ProcessInfo> processes;
  processes.reserve(ids.size());
  std::optional<posix::WineServers> servers;

  // The program itself stands first, where the snapshot of Windows has its idle
  // process, which the program reads as its own.
  const std::uint32_t self = CurrentProcessId();
  ProcessInfo own;
  if (auto read = ReadProcess(self, servers)) own = std::move(*read);
  own.id = self;
  processes.push_back(std::move(own));

  std::map<std::uint32_t, std::uint32_t> parents;
  for (std::uint32_t id : ids) {
    if (id == self) continue;
    std::uint32_t parent = 0;
    if (auto info = ReadProcess(id, servers, &parent)) {
      parents[id] = parent;
      processes.push_back(std::move(*info));
    }
  }
  if (onlyDescendants) {
    const auto descends = [&](std::uint32_t id) {
      for (int depth = 0; depth < 4096 && id > 1; ++depth) {
        if (id == self) return true;
        const auto up = parents.find(id);
        if (up == parents.end()) return false;
        id = up->second;
      }
      return false;
    };
    processes.erase(std::remove_if(processes.begin() + 1, processes.end(),
                                   [&](const ProcessInfo& p) { return !descends(p.id); }),
                    processes.end());
  }
  return processes;
}

void LimitSnapshotsToDescendants() {
  // Programs started in the background (by a shell that ended since) are handed
  // to this process instead of to the system's first process.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  onlyDescendants = true;
}

Expected<std::string> ProcessImagePath(std::uint32_t id) {
  UniqueFd folder = OpenProcFolder(id);
  if (!folder.Valid()) return LastSystemError().Context("process " + std::to_string(id));
  std::string image = posix::ReadProcessImage(folder.Get());
  if (image.empty()) return Failure("the program of process " + std::to_string(id) + " cannot be read");
  return image;
}

Status TerminateProcess(std::uint32_t id) { return Terminate(id, nullptr); }

bool SameImageFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return S_ISREG(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

Status TerminateProcessRunning(std::uint32_t id, const std::string& image) {
  if (image.empty()) return Failure("the program the process runs is not known");
  return Terminate(id, &image);
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace korbu::platform
