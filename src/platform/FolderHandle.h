#pragma once
// A folder held open, so that what is done to its entries happens in that very
// folder even when a folder on its path is swapped for a link meanwhile. A folder
// is opened one path component at a time and a link (a reparse point on Windows)
// in any component is refused; its entries are then reached by name relative to
// the held folder and never through a link. Every function reports failure by its
// result and never throws for a file-system failure.

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>

#include "platform/FileSystem.h"

namespace korbu::platform {

class Folder {
 public:
  /// Opens a real folder by its path, made absolute first; empty when any
  /// component is a link or no folder, or it cannot be opened.
  static std::optional<Folder> Open(const std::string& path);

  /// A real subfolder by its name (one component); empty for a link or anything
  /// else.
  std::optional<Folder> Child(const std::string& name) const;

  /// The path the folder was opened by.
  const std::string& Path() const { return path_; }
  /// The path of an entry of the folder, for messages and records.
  std::string PathOf(const std::string& name) const;

  /// The entry of that name, a link described as a link.
  std::optional<EntryInfo> Entry(const std::string& name) const;

  /// Calls visit for each entry whose name matches the Windows wildcard mask, as
  /// ListFolder does, and fails as it does.
  Status List(const std::string& mask, const std::function<bool(const EntryInfo&)>& visit) const;

  /// Opens a regular file of the folder for reading (never a link, never blocking
  /// on a FIFO).
  std::optional<InputFile> OpenFile(const std::string& name) const;

  /// The whole content of a regular file of the folder; empty when it cannot be
  /// read or holds more than maxBytes (then nothing beyond that is read).
  std::optional<std::string> ReadFile(const std::string& name, std::uint64_t maxBytes) const;

  /// Sets the attributes of a file or folder from Windows bits, as
  /// SetFileAttributes does (never through a link).
  bool SetAttributes(const std::string& name, std::uint32_t attributes) const;

  /// True when the regular file can be opened for reading and writing with nobody
  /// else using it (see CanOpenExclusively).
  bool CanOpenExclusively(const std::string& name) const;

  /// Removes a file or a link (never what it points to); refuses folders.
  bool DeleteFile(const std::string& name) const;

  /// Creates a new file with that content and flushes it; false when the name is
  /// taken (nothing is ever replaced) or the write fails (then nothing stays).
  bool CreateNewFile(const std::string& name, const std::string& content) const;

  /// Replaces a regular file's content atomically (a temporary file in this folder,
  /// flushed, renamed over it); creates it when absent. Anything but a regular file
  /// at the name is refused.
  bool ReplaceContent(const std::string& name, const std::string& content) const;

  /// Moves an entry (a link as a link) into another folder under a new name,
  /// never replacing what is there. taken tells whether the new name was in use.
  bool MoveTo(const std::string& name, const Folder& target, const std::string& newName, bool& taken) const;

  /// True when both folders lie on one file system (volume).
  bool SameVolume(const Folder& other) const;

  /// The platform's handle of the folder (a file descriptor on POSIX), for the
  /// backend's own use.
  std::intptr_t NativeHandle() const;

  struct Handle;

 private:
  Folder(std::shared_ptr<const Handle> handle, std::string path) : handle_(std::move(handle)), path_(std::move(path)) {}
  std::shared_ptr<const Handle> handle_;
  std::string path_;
};

/// Opens the folder of a path and gives the path's last component; empty when the
/// folder cannot be opened (see Folder::Open) or the path ends in no name.
std::optional<std::pair<Folder, std::string>> OpenParent(const std::string& path);

}  // namespace korbu::platform
