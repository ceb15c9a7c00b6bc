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

#include "platform/DurableFile.h"
#include "platform/Expected.h"
#include "platform/FileSystem.h"

namespace korbu::platform {

/// What a file or folder is, read without following a link: enough to give it
/// back as it was and to tell it from any other file.
struct FileStatus {
  EntryKind kind = EntryKind::Other;
  std::uint64_t size = 0;
  std::int64_t lastWriteTime = 0;  // a Windows file time
  /// The POSIX permission bits with set-user-ID, set-group-ID and sticky; on
  /// Windows 0444 for a read-only file, else 0644.
  unsigned mode = 0;
  std::optional<std::uint32_t> owner;  // user and group ids; none on Windows
  std::optional<std::uint32_t> group;
  std::uint64_t device = 0;  // the file system and the file's number on it
  std::uint64_t index = 0;

  bool SameFile(const FileStatus& other) const { return device == other.device && index == other.index; }
};

/// The set-user-ID and set-group-ID bits of a mode.
inline constexpr unsigned kSetIdBits = 06000;

/// True when the running user owns it and neither its group nor others may write
/// it: what the program's own records must be to be trusted. Always true on
/// Windows, where the profile's access rules keep the records private and files
/// have no POSIX owner.
bool IsPrivateToUser(const FileStatus& status);

/// Ok when no other user can replace what the running user makes in the folder:
/// no component of its path is a link, and it and every folder above it belong
/// to the user or to root and only they may write them, or they are sticky (as
/// /tmp), where no one renames or removes another's entries. Otherwise the
/// reason, naming the folder that fails. On Windows only the links are checked.
Status CheckTrustedFolder(const std::string& path);

class NewFile;

class Folder {
 public:
  /// Opens a real folder by its path, made absolute first; fails when any
  /// component is a link or no folder, or it cannot be opened, saying which
  /// component and why.
  static Expected<Folder> Open(const std::string& path);

  /// A real subfolder by its name (one component); fails for a link or anything
  /// else.
  Expected<Folder> Child(const std::string& name) const;

  /// The path the folder was opened by.
  const std::string& Path() const { return path_; }
  /// The path of an entry of the folder, for messages and records.
  std::string PathOf(const std::string& name) const;

  /// The entry of that name, a link described as a link; fails when nothing is
  /// there or it cannot be examined.
  Expected<EntryInfo> Entry(const std::string& name) const;

  /// Calls visit for each entry whose name matches the Windows wildcard mask, as
  /// ListFolder does, and fails as it does.
  Status List(const std::string& mask, const std::function<bool(const EntryInfo&)>& visit) const;

  /// Opens a regular file of the folder for reading (never a link, never blocking
  /// on a FIFO).
  Expected<InputFile> OpenFile(const std::string& name) const;

  /// The whole content of a regular file of the folder; fails when it cannot be
  /// read or holds more than maxBytes (then nothing beyond that is read).
  Expected<std::string> ReadFile(const std::string& name, std::uint64_t maxBytes) const;

  /// Sets the attributes of a file or folder from Windows bits, as
  /// SetFileAttributes does (never through a link).
  Status SetAttributes(const std::string& name, std::uint32_t attributes) const;

  /// True when the regular file can be opened for reading and writing with nobody
  /// else using it (see CanOpenExclusively).
  bool CanOpenExclusively(const std::string& name) const;

  /// Removes a file or a link (never what it points to); refuses folders.
  Status DeleteFile(const std::string& name) const;

  /// Creates a new file with that content and flushes it. Nothing is ever
  /// replaced: a name in use is an ErrorKind::NameTaken; a failed write leaves
  /// nothing behind.
  Status CreateNewFile(const std::string& name, const std::string& content) const;

  /// Moves an entry (a link as a link) into another folder under a new name,
  /// never replacing what is there: a new name in use is an ErrorKind::NameTaken.
  Status MoveTo(const std::string& name, const Folder& target, const std::string& newName) const;

  /// True when both folders lie on one file system (volume).
  bool SameVolume(const Folder& other) const;

  /// The folder's own status, from the held handle.
  Expected<FileStatus> OwnStatus() const;
  /// The status of an entry; a link is described as a link.
  Expected<FileStatus> StatusOf(const std::string& name) const;

  /// A regular file open for reading with its status, both from one open: what
  /// is read is what the status describes, whatever takes its name meanwhile.
  struct HeldFile {
    InputFile file;
    FileStatus status;
  };
  Expected<HeldFile> OpenRegular(const std::string& name) const;

  /// Opens a regular file (never a link) of the folder for writing at its end.
  Expected<DurableFile> OpenForAppend(const std::string& name) const;

  /// Forces the folder's entries (names made, moved or removed in it) to the disk.
  Status Sync() const;
  /// Forces the folder's entries and the content of its files to the disk, in
  /// one go where the system can (POSIX: the whole file system it is on).
  Status SyncWithFiles() const;

  /// Removes an empty subfolder (never a link).
  Status RemoveEmptyFolder(const std::string& name) const;

  /// Creates a subfolder private to the user; fails when the name is taken.
  Expected<Folder> MakeChild(const std::string& name) const;

  /// Starts a new file that is to become the entry name (see NewFile).
  Expected<NewFile> BeginFile(const std::string& name) const;

  /// Removes the entry only while it is still the file expected describes, so
  /// that a file put in its place meanwhile is never lost.
  Status RemoveIfSame(const std::string& name, const FileStatus& expected) const;

  /// Replaces a regular file's content atomically (a temporary file in this
  /// folder, flushed, renamed over it); creates it when absent. Anything but a
  /// regular file at the name is refused. The new file keeps the old one's owner
  /// and permission bits, except set-user-ID and set-group-ID, which no
  /// rewritten file keeps.
  Status RewriteFile(const std::string& name, std::string_view content) const;

  /// The platform's handle of the folder (a file descriptor on POSIX), for the
  /// backend's own use.
  std::intptr_t NativeHandle() const;

  struct Handle;

 private:
  friend class NewFile;
  Folder(std::shared_ptr<const Handle> handle, std::string path) : handle_(std::move(handle)), path_(std::move(path)) {}
  std::shared_ptr<const Handle> handle_;
  std::string path_;
};

/// A file being written in a held folder. It bears a temporary name until
/// Commit gives it its own, so nobody ever finds it half written or with its
/// final owner before its final content; one never committed is removed when
/// the object goes.
class NewFile {
 public:
  NewFile(NewFile&& other) noexcept;
  NewFile& operator=(NewFile&& other) = delete;
  NewFile(const NewFile&) = delete;
  NewFile& operator=(const NewFile&) = delete;
  ~NewFile();

  /// The open file: write the content through it.
  DurableFile& Content() { return file_; }

  /// Gives the file to that owner and group, on the open file. Nothing on
  /// Windows, which keeps no POSIX owner. Clears set-user-ID and set-group-ID,
  /// so set the mode after it.
  Status SetOwner(std::uint32_t owner, std::uint32_t group);
  /// SetOwner where the owner may be given. Where it may not (a user giving a
  /// file away, a file system without owners) the file stays the writer's, as
  /// any file it writes, and that is Ok; any other failure is the error.
  Status GiveOwnerIfPermitted(std::uint32_t owner, std::uint32_t group);
  /// Sets the permission bits on the open file (on Windows: read-only when the
  /// owner may not write).
  Status SetMode(unsigned mode);

  /// Forces the content to the disk and gives the file its name in the folder,
  /// never replacing anything there (then the error is an ErrorKind::NameTaken).
  Status Commit();
  /// Forces the content to the disk and puts the file in place of whatever
  /// regular file bears its name, atomically.
  Status CommitReplacing();
  /// As Commit, but nothing is forced to the disk: for many files of one
  /// folder that Folder::SyncWithFiles makes durable together afterwards.
  Status CommitUnsynced();

  /// The status of the open file.
  Expected<FileStatus> OwnStatus() const;

 private:
  friend class Folder;
  NewFile(Folder folder, std::string name, std::string tempName, DurableFile file);
  Status Finish(bool replace, bool sync = true);
  Folder folder_;
  std::string name_;
  std::string tempName_;
  DurableFile file_;
  bool committed_ = false;
};


/// The rest of an open file from where it stands; an error when it cannot be
/// read or holds more than maxBytes (then nothing beyond that is read).
Expected<std::string> ReadToEnd(InputFile& file, std::uint64_t maxBytes);

/// Opens the folder of a path and gives the path's last component; an error when
/// the folder cannot be opened (see Folder::Open) or the path ends in no name.
Expected<std::pair<Folder, std::string>> OpenParent(const std::string& path);

}  // namespace korbu::platform
