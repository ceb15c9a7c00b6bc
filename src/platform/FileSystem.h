#pragma once
// Files and folders. Every function reports failure by its result and never throws.
// Only regular files and real directories are ever opened or entered: symbolic
// links are never followed, and FIFOs, sockets and devices are never opened.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/Expected.h"

namespace korbu::platform {

// Windows attribute bits, the form in which the rest of the program reads them.
inline constexpr std::uint32_t kAttrReadOnly = 0x01;
inline constexpr std::uint32_t kAttrHidden = 0x02;
inline constexpr std::uint32_t kAttrSystem = 0x04;
inline constexpr std::uint32_t kAttrDirectory = 0x10;
inline constexpr std::uint32_t kAttrArchive = 0x20;
inline constexpr std::uint32_t kAttrNormal = 0x80;

enum class EntryKind {
  Regular,    // a plain file
  Directory,  // a real directory (not a link to one)
  Link,       // a symbolic link, whatever it points to
  Other,      // FIFO, socket, device
};

/// One directory entry as the platform describes it.
struct EntryInfo {
  std::string name;           // without its folder
  EntryKind kind = EntryKind::Other;
  std::uint64_t size = 0;     // bytes; 0 for anything but a regular file
  std::uint32_t attributes = 0;
  // Times in 100-nanosecond ticks since 1601-01-01 UTC (the Windows file time).
  std::int64_t creationTime = 0;
  std::int64_t lastAccessTime = 0;
  std::int64_t lastWriteTime = 0;
};

/// Describes the entry at a path without following a final symbolic link;
/// empty when nothing is there or it cannot be examined.
std::optional<EntryInfo> GetEntryInfo(const std::string& path);

/// True when a regular file (not a link) is at the path.
bool FileExists(const std::string& path);

/// True when a real directory (not a link) is at the path.
bool DirectoryExists(const std::string& path);

/// True when the folder lies on a file system that the kernel makes up rather than
/// stores (proc, sysfs, devices, cgroups, tracing and the like): walks never enter
/// such folders. Always false on Windows.
bool IsVirtualFileSystem(const std::string& folder);

/// The mount points below folder (as paths relative to it) of file systems that
/// store files, outermost ones only: /dev is made up, the tmpfs at /dev/shm holds
/// real files. Empty on Windows.
std::vector<std::string> RealMountsBelow(const std::string& folder);

/// Calls visit for each entry of the folder whose name matches the Windows wildcard
/// mask (see MatchesWildcard), "." and ".." excluded, in the platform's order,
/// until visit returns false. Fails, with the system's reason, when the folder
/// cannot be opened or read to its end (entries already visited stay visited).
Status ListFolder(const std::string& folder, const std::string& mask,
                  const std::function<bool(const EntryInfo&)>& visit);

/// ListFolder with every name, reporting only the real folders (no links to
/// one); cheaper where the system tells an entry's type without a look at it.
Status ListSubfolders(const std::string& folder, const std::function<bool(const EntryInfo&)>& visit);

/// Sets the attributes of a file or folder from Windows bits: on POSIX only the
/// read-only bit has an effect (it takes the owner's write permission away).
/// A link's attributes are never set.
Status SetFileAttributes(const std::string& path, std::uint32_t attributes);

/// True when the file can be opened for reading and writing with nobody else
/// allowed to use it at the same time; false when it is in use or not openable.
bool CanOpenExclusively(const std::string& path);

/// Removes a file or a symbolic link (never what a link points to). Refuses folders.
Status DeleteFile(const std::string& path);

/// Removes an empty folder.
Status RemoveDirectory(const std::string& path);

/// How a file is shared with other programs while it is open for reading.
enum class ShareMode {
  DenyNone,   // others may read and write it
  DenyWrite,  // others may read it but not write it
};

/// A regular file open for reading. Moves, never copies; closes on destruction.
class InputFile {
 public:
  /// Opens a regular file (a final link is followed; anything but a regular file
  /// is refused). Empty when it cannot be opened with that share mode.
  static std::optional<InputFile> Open(const std::string& path, ShareMode share);

  InputFile(InputFile&& other) noexcept;
  InputFile& operator=(InputFile&& other) noexcept;
  InputFile(const InputFile&) = delete;
  InputFile& operator=(const InputFile&) = delete;
  ~InputFile();

  /// Size of the file in bytes when it was opened.
  std::uint64_t Size() const { return size_; }

  /// Reads up to count bytes at the current position; the number read (0 at the
  /// end), or -1 on a read error.
  std::int64_t Read(void* buffer, std::size_t count);

  /// Reads up to count bytes at an absolute offset without moving the position.
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset);

  /// Moves the position to an absolute offset.
  bool Seek(std::uint64_t offset);

 private:
  friend class Folder;  // opens the files of a held folder
  InputFile(std::intptr_t handle, std::uint64_t size) : handle_(handle), size_(size) {}
  std::intptr_t handle_;
  std::uint64_t size_;
};

/// Reads a whole regular file; empty when it cannot be opened or read.
std::optional<std::string> ReadWholeFile(const std::string& path, ShareMode share);

/// A read-only view of a whole regular file. An empty file maps to no bytes.
class MappedFile {
 public:
  static std::optional<MappedFile> Open(const std::string& path);

  MappedFile(MappedFile&& other) noexcept;
  MappedFile& operator=(MappedFile&& other) noexcept;
  MappedFile(const MappedFile&) = delete;
  MappedFile& operator=(const MappedFile&) = delete;
  ~MappedFile();

  const unsigned char* Data() const { return data_; }
  std::uint64_t Size() const { return size_; }

 private:
  MappedFile(const unsigned char* data, std::uint64_t size) : data_(data), size_(size) {}
  const unsigned char* data_;
  std::uint64_t size_;
};

/// Writes a file as a whole and atomically: the content goes to a temporary file in
/// the same folder, is flushed, and replaces the target by a rename, so that any
/// failure or crash leaves either the old file or the new one. A target that exists
/// and is not a regular file is refused. On any failure the old file is untouched.
Status ReplaceFileAtomically(const std::string& path, const std::string& content);

}  // namespace korbu::platform
