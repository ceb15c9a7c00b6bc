// The process table as the Windows systems of this machine see it: a process of
// Wine's loader runs the Windows program Wine started, in the prefix whose
// server it is connected to (WineServers.h).
#include <map>
#include <optional>

#include "platform/Processes.h"
#include "platform/SystemError.h"
#include "platform/posix/ProcessImage.h"
#include "platform/posix/ProcessTable.h"
#include "platform/wine/WineProcessImage.h"
#include "platform/wine/WineServers.h"

namespace korbu::platform {
namespace {

using posix::UniqueFd;

std::string ProgramImage(int procDir) {
  if (wine::IsWineLoader(posix::ExecutablePath(procDir))) return wine::WineProgramImage(procDir);
  return posix::ReadProcessImage(procDir);
}

// Reads one process; empty when it has ended or is a kernel thread. servers
// tells a Wine program's prefix, and is looked up the first time one is met.
std::optional<ProcessInfo> ReadProcess(std::uint32_t id, std::optional<wine::WineServers>& servers,
                                       std::uint32_t* parent = nullptr) {
  UniqueFd folder = posix::OpenProcFolder(id);
  if (!folder.Valid()) return std::nullopt;
  auto info = posix::ReadProcessEntry(folder.Get(), id, parent);
  if (!info) return std::nullopt;
  info->imagePath = ProgramImage(folder.Get());
  if (wine::IsWineLoader(posix::ExecutablePath(folder.Get()))) {
    if (!servers) servers = wine::WineServers::Find();
    wine::WineSystemOf system = servers->SystemOf(folder.Get());
    info->winePrefix = std::move(system.prefix);
    info->wineSystemDoubt = std::move(system.doubt);
  }
  return info;
}

}  // namespace

Expected<std::vector<ProcessInfo>> SnapshotProcesses() {
  auto listed = posix::ListProcessIds();
  if (!listed) return listed.error();
  const std::vector<std::uint32_t>& ids = *listed;
  std::vector<ProcessInfo> processes;
  processes.reserve(ids.size());
  std::optional<wine::WineServers> servers;

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
  posix::KeepOnlyDescendants(processes, parents);
  return processes;
}

Expected<std::string> ProcessImagePath(std::uint32_t id) {
  UniqueFd folder = posix::OpenProcFolder(id);
  if (!folder.Valid()) return LastSystemError().Context("process " + std::to_string(id));
  std::string image = ProgramImage(folder.Get());
  if (image.empty()) return Failure("the program of process " + std::to_string(id) + " cannot be read");
  return image;
}

Status TerminateProcessRunning(std::uint32_t id, const std::string& image) {
  if (image.empty()) return Failure("the program the process runs is not known");
  return posix::Terminate(id, &image, ProgramImage);
}

}  // namespace korbu::platform
