#include "services/ProcList.h"

#include <charconv>
#include <chrono>
#include <memory>
#include <exception>
#include <new>
#include <thread>

#include "platform/FolderHandle.h"
#include "platform/Processes.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {

constexpr std::string_view kNtPrefix = "\\??\\";
constexpr std::string_view kSystemRootPrefix = "\\SystemRoot";

// A path in an NT kernel form names a file of the Windows system the process
// table is of, the one the program runs on; it is made a Windows path and then
// the native path of that file.
std::string ImagePathOf(const std::string& raw, std::shared_ptr<platform::WindowsSystem>& running) {
  if (!raw.starts_with(kNtPrefix) && !raw.starts_with(kSystemRootPrefix)) return raw;
  if (!running) running = platform::DefaultWindowsSystem();
  std::string windowsPath = FixUpImagePath(raw, running->WindowsDirectoryPath());
  std::string native = running->NativePath(windowsPath);
  return native.empty() ? windowsPath : native;
}

std::optional<std::uint32_t> ParseProcessId(const std::string& text) {
  std::uint32_t id = 0;
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, id);
  if (text.empty() || error != std::errc() || stop != end) return std::nullopt;
  return id;
}

}  // namespace

std::string FixUpImagePath(const std::string& raw, const std::string& windowsFolder) {
  if (raw.starts_with(kNtPrefix)) return raw.substr(kNtPrefix.size());
  if (raw.starts_with(kSystemRootPrefix)) return windowsFolder + raw.substr(kSystemRootPrefix.size());
  return raw;
}

TProcessManager::TProcessManager() { EnableDebugPrivilege(); }

void TProcessManager::EnableDebugPrivilege() {}

Status TProcessManager::Refresh() {
  imagePaths_.clear();
  processIds_.clear();
  basePriorities_.clear();
  threadCounts_.clear();
  winePrefixes_.clear();
  wineSystemDoubts_.clear();
  ownedByCaller_.clear();
  rawImages_.clear();
  ids_.clear();

  auto snapshot = platform::SnapshotProcesses();
  if (!snapshot) return snapshot.error();
  std::shared_ptr<platform::WindowsSystem> running;
  for (const platform::ProcessInfo& process : *snapshot) {
    imagePaths_.push_back(ImagePathOf(process.imagePath, running));
    processIds_.push_back(std::to_string(process.id));
    basePriorities_.push_back(std::to_string(process.basePriority));
    threadCounts_.push_back(std::to_string(process.threadCount));
    winePrefixes_.push_back(process.winePrefix);
    wineSystemDoubts_.push_back(process.wineSystemDoubt);
    ownedByCaller_.push_back(process.ownedByCaller);
    rawImages_.push_back(process.imagePath);
    ids_.push_back(process.id);
  }
  return Ok();
}

void TProcessManager::KillEntry(std::size_t index) {
  // Nothing is reported: a process that cannot be ended is left running.
  if (rawImages_[index].empty()) {
    (void)platform::TerminateProcess(ids_[index]);
  } else {
    (void)platform::TerminateProcessRunning(ids_[index], rawImages_[index]);
  }
}

void TProcessManager::KillProcess(const std::string& processId) {
  auto id = ParseProcessId(processId);
  if (!id) return;
  for (std::size_t i = 0; i < ids_.size(); ++i) {
    if (ids_[i] == *id) {
      KillEntry(i);
      return;
    }
  }
  (void)platform::TerminateProcess(*id);
}

void TProcessManager::KillByPath(const std::string& path) {
  if (path.empty()) return;
  if (!Refresh()) return;
  for (std::size_t i = 0; i < imagePaths_.size(); ++i) {
    if (imagePaths_[i] == path) KillEntry(i);
  }
}

Expected<std::vector<std::string>> GetProcessPaths() {
  try {
    TProcessManager manager;
    if (Status read = manager.Refresh(); !read) return read.error();
    const auto& paths = manager.ImagePaths();
    if (paths.empty()) return std::vector<std::string>();
    return std::vector<std::string>(paths.begin() + 1, paths.end());
  } catch (const std::bad_alloc&) {
    return Failure("out of memory");
  } catch (const std::exception& e) {
    return Failure(e.what());
  }
}

void KillProcessByPath(const std::string& path) {
  TProcessManager manager;
  manager.KillByPath(path);
}

Status EndProcessesOfFile(const std::string& path) {
  if (path.empty()) return Ok();
  // The file is told by its folder, held without following a link: a link
  // swapped in at its name, or for a folder on its way, leads to no other
  // program, whose processes would be ended in its place. Without a regular
  // file there, only a process reported under that very path is of it.
  std::optional<platform::FileStatus> file;
  if (const auto parent = platform::OpenParent(path)) {
    auto status = parent->first.StatusOf(parent->second);
    if (status && status->kind == platform::EntryKind::Regular) file = std::move(*status);
  }
  constexpr int kRounds = 50;  // up to about two and a half seconds
  std::string refused;  // the last reason a request to end one was refused
  for (int round = 0; round < kRounds; ++round) {
    const auto processes = platform::SnapshotProcesses();
    if (!processes) return processes.error().Context("the programs running it cannot be listed");
    bool running = false;
    for (const platform::ProcessInfo& process : *processes) {
      if (process.id == platform::CurrentProcessId() || process.imagePath.empty()) continue;
      if (process.imagePath != path && !(file && platform::SameImageFile(process.imagePath, *file))) continue;
      running = true;
      const Status ended = platform::TerminateProcessRunning(process.id, process.imagePath);
      if (!ended) refused = "process " + std::to_string(process.id) + ": " + ended.error().reason;
    }
    if (!running) return Ok();
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  if (refused.empty()) return Failure("a program running it is still running");
  return Failure("a program running it could not be ended: " + refused);
}

}  // namespace korbu
