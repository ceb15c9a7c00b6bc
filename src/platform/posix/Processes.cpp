#include "platform/Processes.h"

#include <signal.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <charconv>
#include <climits>
#include <map>
#include <memory>
#include <optional>

#include "platform/SystemError.h"
#include "platform/posix/ProcessImage.h"
#include "platform/posix/ProcessTable.h"

namespace korbu::platform::posix {
namespace {

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

std::atomic<bool> onlyDescendants{false};

Status CanTarget(std::uint32_t id) {
  if (id == 0 || id > static_cast<std::uint32_t>(INT_MAX)) return Failure("no process has id " + std::to_string(id));
  if (id == CurrentProcessId()) return Failure("it is the scanner's own process");
  return Ok();
}

}  // namespace

UniqueFd OpenProcFolder(std::uint32_t id) {
  std::string folder = "/proc/" + std::to_string(id);
  return UniqueFd(RetryOnEintr([&] { return ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); }));
}

std::optional<ProcessInfo> ReadProcessEntry(int procDir, std::uint32_t id, std::uint32_t* parent) {
  auto statLine = ReadProcFile(procDir, "stat");
  if (!statLine) return std::nullopt;
  auto stat = ParseProcStat(*statLine);
  if (!stat || (stat->flags & kKernelThreadFlag) != 0) return std::nullopt;
  ProcessInfo info;
  info.id = id;
  info.basePriority = stat->priority;
  info.threadCount = stat->threadCount;
  // The kernel gives a process's folder its effective user (root for one that
  // cannot be inspected), so an unknown owner is never taken for another user.
  struct stat folder {};
  info.ownedByCaller = ::fstat(procDir, &folder) != 0 || folder.st_uid == ::geteuid();
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

// With a pidfd the signal reaches exactly the process whose image was checked:
// if that process ends and its id is handed to another one after the check, the
// signal fails instead of striking the newcomer.
Status Terminate(std::uint32_t id, const std::string* image, const ImageReader& imageOf) {
  if (Status target = CanTarget(id); !target) return target;
  const auto pid = static_cast<pid_t>(id);
  UniqueFd handle(PidfdOpen(pid));
  if (!handle.Valid() && errno != ENOSYS) return LastSystemError();  // gone, or not ours to see
  if (image != nullptr) {
    UniqueFd folder = OpenProcFolder(id);
    if (!folder.Valid()) return LastSystemError();
    if (imageOf(folder.Get()) != *image) return Failure("the process runs another program now");
  }
  if (handle.Valid()) return PidfdKill(handle.Get());
  // Kernels before 5.3 have no pidfd; the window between check and kill remains.
  if (::kill(pid, SIGKILL) == 0) return Ok();
  return LastSystemError();
}

void KeepOnlyDescendants(std::vector<ProcessInfo>& processes, const std::map<std::uint32_t, std::uint32_t>& parents) {
  if (!onlyDescendants || processes.empty()) return;
  const std::uint32_t self = CurrentProcessId();
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

}  // namespace korbu::platform::posix

namespace korbu::platform {

void LimitSnapshotsToDescendants() {
  // Programs started in the background (by a shell that ended since) are handed
  // to this process instead of to the system's first process.
  ::prctl(PR_SET_CHILD_SUBREAPER, 1);
  posix::onlyDescendants = true;
}

Status TerminateProcess(std::uint32_t id) { return posix::Terminate(id, nullptr, {}); }

bool SameImageFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  if (a.empty() || b.empty() || ::stat(a.c_str(), &first) != 0 || ::stat(b.c_str(), &second) != 0) return false;
  return S_ISREG(first.st_mode) && first.st_dev == second.st_dev && first.st_ino == second.st_ino;
}

bool SameImageFile(const std::string& image, const FileStatus& file) {
  struct stat st {};
  if (image.empty() || ::stat(image.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  return static_cast<std::uint64_t>(st.st_dev) == file.device && static_cast<std::uint64_t>(st.st_ino) == file.index;
}

std::uint32_t CurrentProcessId() { return static_cast<std::uint32_t>(::getpid()); }

}  // namespace korbu::platform
