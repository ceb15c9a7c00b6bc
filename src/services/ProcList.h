#pragma once
// The running processes as the scanner needs them: the image file of each one for
// the memory scan, and stopping every process that runs a given file before the
// repair deletes it.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Expected.h"

namespace korbu {

/// Turns an image path in one of the NT kernel's forms into a plain path:
/// "\??\C:\x.exe" loses its first four characters, and "\SystemRoot\x.exe" becomes
/// windowsFolder + "\x.exe". Both prefixes compare exactly, letter case included;
/// at most one rule applies; any other path is returned unchanged.
std::string FixUpImagePath(const std::string& raw, const std::string& windowsFolder);

/// A snapshot of the process table, made for one task. The four lists are
/// parallel: entry i of each describes the same process, in snapshot order. The
/// first entry is always the program's own process.
class TProcessManager {
 public:
  /// Holds no entries until the first Refresh.
  TProcessManager();

  /// Replaces all entries with a fresh snapshot. An error (and no entries) when
  /// the process table cannot be read.
  Status Refresh();

  /// Ends the process with that id (decimal text). When the id is in the last
  /// snapshot with a known image, only while the process still runs that image.
  /// The program itself, id 0 and text that is not a plain decimal number are
  /// refused; a process that has gone or cannot be ended is skipped silently.
  void KillProcess(const std::string& processId);

  /// Refreshes, then ends every process whose image path equals path exactly
  /// (letter case included). An empty path matches nothing: it would otherwise
  /// stand for every process whose image could not be read.
  void KillByPath(const std::string& path);

  /// Asks for the right to examine and end other users' processes; the POSIX
  /// system has no such privilege to switch on, so this does nothing there.
  void EnableDebugPrivilege();

  /// Index of the last entry: the number of entries - 1, or -1 when there are none.
  std::int32_t LastIndex() const { return static_cast<std::int32_t>(imagePaths_.size()) - 1; }
  /// Full path of each process's image after FixUpImagePath; empty when unreadable.
  const std::vector<std::string>& ImagePaths() const { return imagePaths_; }
  /// Process id of each entry as plain decimal text.
  const std::vector<std::string>& ProcessIds() const { return processIds_; }
  /// Base priority of each entry, decimal.
  const std::vector<std::string>& BasePriorities() const { return basePriorities_; }
  /// Thread count of each entry, decimal.
  const std::vector<std::string>& ThreadCounts() const { return threadCounts_; }
  /// The Wine prefix each entry runs in (see platform::ProcessInfo); empty for
  /// a process that is no Windows program under Wine.
  const std::vector<std::string>& WinePrefixes() const { return winePrefixes_; }
  /// Why each entry's Windows system is unknown (see platform::ProcessInfo);
  /// empty where it is known or the entry is no Windows program under Wine.
  const std::vector<std::string>& WineSystemDoubts() const { return wineSystemDoubts_; }
  /// Whether each entry runs as the caller's user (see platform::ProcessInfo).
  const std::vector<bool>& OwnedByCaller() const { return ownedByCaller_; }

 private:
  void KillEntry(std::size_t index);

  std::vector<std::string> imagePaths_;
  std::vector<std::string> processIds_;
  std::vector<std::string> basePriorities_;
  std::vector<std::string> threadCounts_;
  std::vector<std::string> winePrefixes_;
  std::vector<std::string> wineSystemDoubts_;
  std::vector<bool> ownedByCaller_;
  // What the system reported before the fix-up, to recognise a process again.
  std::vector<std::string> rawImages_;
  std::vector<std::uint32_t> ids_;
};

/// The image paths of all running processes but the first entry (the program
/// itself), in snapshot order, not de-duplicated; an unreadable image gives an
/// empty path. No list at all, but the reason, when the process table cannot be
/// read.
Expected<std::vector<std::string>> GetProcessPaths();

/// Ends every running process whose image path is exactly path.
void KillProcessByPath(const std::string& path);

/// Ends every running process whose image is the file at path, by whatever name
/// the system reports it (under Wine: through a drive letter's link), and waits
/// a little for them to be gone, so that none of them changes anything after
/// this returns. Success when none is left running; otherwise why one is.
Status EndProcessesOfFile(const std::string& path);

}  // namespace korbu
