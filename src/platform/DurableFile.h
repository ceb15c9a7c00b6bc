#pragma once
// Files that must survive a crash: records written and forced to the disk before
// the program goes on (opened and created through a held folder, see
// Folder::OpenForAppend and Folder::BeginFile), kept private to the user.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "platform/Expected.h"

namespace korbu::platform {

/// A file open for writing whose writes reach the disk on Sync. Moves, never
/// copies; closes on destruction.
class DurableFile {
 public:
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
/// Ok when a real folder is there afterwards, else why not (naming the folder).
Status MakePrivateFolders(const std::string& path);

/// The folder for the program's own records: $XDG_DATA_HOME/korbu, else
/// ~/.local/share/korbu; on Windows %LOCALAPPDATA%\KORBU. Empty when there is no
/// home to put it in.
std::string ProgramDataFolder();

}  // namespace korbu::platform
