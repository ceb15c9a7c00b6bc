#pragma once
// Files that must survive a crash: records written and forced to the disk before
// the program goes on, kept private to the user, and moves that never replace
// what is already at their target.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace korbu::platform {

/// A file open for writing whose writes reach the disk on Sync. Moves, never
/// copies; closes on destruction.
class DurableFile {
 public:
  /// Creates a new file readable and writable by the user alone (never
  /// executable); empty when anything, a link included, is already there.
  static std::optional<DurableFile> CreateNew(const std::string& path);
  /// Opens an existing regular file (not a link) for writing at its end.
  static std::optional<DurableFile> OpenForAppend(const std::string& path);

  DurableFile(DurableFile&& other) noexcept;
  DurableFile& operator=(DurableFile&& other) noexcept;
  DurableFile(const DurableFile&) = delete;
  DurableFile& operator=(const DurableFile&) = delete;
  ~DurableFile();

  /// Writes all bytes; false on any failure.
  bool Write(std::string_view bytes);
  /// Forces what was written to the disk.
  bool Sync();

 private:
  friend class Folder;  // opens and creates the files of a held folder
  friend class NewFile;
  explicit DurableFile(std::intptr_t handle) : handle_(handle) {}
  std::intptr_t handle_;
};

/// Makes a folder and its missing parents, the new ones private to the user.
/// True when a real folder is there afterwards.
bool MakePrivateFolders(const std::string& path);

/// Forces a folder's entries (files created or renamed in it) to the disk.
bool SyncFolder(const std::string& path);

/// Renames a file or folder, failing when anything is at the target.
bool MoveNoReplace(const std::string& from, const std::string& to);

/// The folder for the program's own records: $XDG_DATA_HOME/korbu, else
/// ~/.local/share/korbu; on Windows %LOCALAPPDATA%\KORBU. Empty when there is no
/// home to put it in.
std::string ProgramDataFolder();

}  // namespace korbu::platform
