#include "services/ProcList.h"

#include <charconv>
#include <chrono>
#include <exception>
#include <thread>

#include "platform/Processes.h"
#include "platform/WindowsSystem.h"

namespace korbu {
namespace {

constexpr std::string_view kNtPrefix = "\\??\\";
constexpr std::string_view kSystemRootPrefix = "\\SystemRoot";

// A path in an NT kernel form names a file of the Windows system; it is made a
// Windows path and then the native path of that file.
std::string ImagePathOf(const std::string& raw, std::string& windowsFolder, bool& windowsFolderRead) {
  if (!raw.starts_with(kNtPrefix) && !raw.starts_with(kSystemRootPrefix)) return raw;
  if (!windowsFolderRead) {
    windowsFolder = platform::WindowsDirectoryPath();
    windowsFolderRead = true;
  }
  std::string windowsPath = FixUpImagePath(raw, windowsFolder);
  std::string native = platform::NativePath(windowsPath);
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

bool TProcessManager::Refresh() {
  imagePaths_.clear();
  processIds_.clear();
  basePriorities_.clear();
  threadCounts_.clear();
  winePrefixes_.clear();
  rawImages_.clear();
  ids_.clear();

  auto snapshot = platform::SnapshotProcesses();
  if (!snapshot) return false;
  std::string windowsFolder;
  bool windowsFolderRead = false;
  for (const platform::ProcessInfo& process : *snapshot) {
    imagePaths_.push_back(ImagePathOf(process.imagePath, windowsFolder, windowsFolderRead));
    processIds_.push_back(std::to_string(process.id));
    basePriorities_.push_back(std::to_string(process.basePriority));
    threadCounts_.push_back(std::to_string(process.threadCount));
    winePrefixes_.push_back(process.winePrefix);
    rawImages_.push_back(process.imagePath);
    ids_.push_back(process.id);
  }
  return true;
}

void TProcessManager::KillEntry(std::size_t index) {
  if (rawImages_[index].empty()) {
    platform::TerminateProcess(ids_[index]);
  } else {
    platform::TerminateProcessRunning(ids_[index], rawImages_[index]);
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
  platform::TerminateProcess(*id);
}

void TProcessManager::KillByPath(const std::string& path) {
  if (path.empty()) return;
  if (!Refresh()) return;
  for (std::size_t i = 0; i < imagePaths_.size(); ++i) {
    if (imagePaths_[i] == path) KillEntry(i);
  }
}

std::optional<std::vector<std::string>> GetProcessPaths() {
  try {
    TProcessManager manager;
    if (!manager.Refresh()) return std::nullopt;
    const auto& paths = manager.ImagePaths();
    if (paths.empty()) return std::vector<std::string>();
    return std::vector<std::string>(paths.begin() + 1, paths.end());
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

void KillProcessByPath(const std::string& path) {
  TProcessManager manager;
  manager.KillByPath(path);
}

bool EndProcessesOfFile(const std::string& path) {
  if (path.empty()) return true;
  constexpr int kRounds = 50;  // up to about two and a half seconds
  for (int round = 0; round < kRounds; ++round) {
    const auto processes = platform::SnapshotProcesses();
    if (!processes) return false;
    bool running = false;
    for (const platform::ProcessInfo& process : *processes) {
      if (process.id == platform::CurrentProcessId() || process.imagePath.empty()) continue;
      if (process.imagePath != path && !platform::SameImageFile(process.imagePath, path)) continue;
      running = true;
      platform::TerminateProcessRunning(process.id, process.imagePath);
    }
    if (!running) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return false;
}

}  // namespace korbu
