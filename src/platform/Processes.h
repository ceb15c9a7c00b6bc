#pragma once
// The running processes: a snapshot of the process table, ending a process, and
// the program's own process id. Every function reports failure by its result.

#include <cstdint>
#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::platform {

/// One process of a snapshot.
struct ProcessInfo {
  std::uint32_t id = 0;
  /// Native full path of the program the process runs; empty when it cannot be
  /// read (another user's process, a zombie, a process that has just ended).
  /// A Windows program under Wine is recorded as its own .exe, not the loader.
  std::string imagePath;
  /// The scheduling priority the system gives the process (POSIX: the kernel's
  /// priority value, 20 for a process of normal niceness).
  std::int32_t basePriority = 0;
  std::int32_t threadCount = 0;
  /// A Windows program under Wine: the folder of the prefix whose wineserver
  /// serves it (the Windows system it runs in). Empty for any other process, and
  /// on Windows.
  std::string winePrefix;
  /// A Windows program under Wine whose system is unknown: why its server or
  /// prefix is not trusted (then winePrefix is empty). Empty for any other.
  std::string wineSystemDoubt;
  /// Runs as the caller's user (POSIX: the owner of its /proc folder is the
  /// caller's effective user). Windows does not tell it here: true there.
  bool ownedByCaller = true;
};

/// The running processes: the program's own process first, then every other one
/// in ascending id order. Kernel threads are not processes and are left out.
/// An error when the process table cannot be read at all.
Expected<std::vector<ProcessInfo>> SnapshotProcesses();

/// The image path of one process now, as SnapshotProcesses records it; an error
/// when the process has gone or its image cannot be read.
Expected<std::string> ProcessImagePath(std::uint32_t id);

/// Ends a process at once, without letting it clean up. Success when the request
/// was delivered. Refuses id 0 and the program's own process.
Status TerminateProcess(std::uint32_t id);

/// As TerminateProcess, but only while that process still runs the given image
/// (compared exactly): guards against the id having been reused by another
/// program since the image was read. An empty image is refused.
Status TerminateProcessRunning(std::uint32_t id, const std::string& image);

/// True when two paths name the same existing file, through whatever links and
/// other names (a Wine drive letter's link, a different letter case on Windows)
/// lead to it.
bool SameImageFile(const std::string& a, const std::string& b);

/// True when an image path names the file of that status (found through its
/// held folder, Folder::StatusOf), through whatever links lead to it there.
bool SameImageFile(const std::string& image, const FileStatus& file);

/// The program's own process id.
std::uint32_t CurrentProcessId();

/// From now on snapshots list only this process and those it started, at any
/// depth (on POSIX, programs whose starter ended meanwhile are kept as this
/// process's own), for tests that run the memory phase on a machine where other
/// programs run. Nothing else calls it.
void LimitSnapshotsToDescendants();

}  // namespace korbu::platform
