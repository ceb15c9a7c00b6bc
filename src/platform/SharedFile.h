#pragma once
// Files that several processes of the user read and write at once in a folder
// private to that user: opened only when they are the user's own regular files,
// written in place at offsets, and a lock that a writer holds briefly.

#include <chrono>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

#include "platform/Expected.h"

namespace korbu::platform {

/// The folder for what the program keeps only to be faster: $XDG_CACHE_HOME/korbu,
/// else ~/.cache/korbu; on Windows %LOCALAPPDATA%\KORBU\cache. Empty when there is
/// no home to put it in.
std::string ProgramCacheFolder();

/// Makes the folder (and missing parents, private) when it is absent. Refused when
/// the folder is a link or no folder, or another user owns it; a folder of the
/// user's own that others may enter is made private (0700).
Status EnsurePrivateFolder(const std::string& path);

/// A regular file of the user, open for reading and writing at offsets.
class SharedFile {
 public:
  /// Opens an existing file (or, with create, makes it when absent). Refused when
  /// it is a link, not a regular file, or another user's; a file of the user's own
  /// that others may read is made 0600.
  static Expected<SharedFile> Open(const std::string& path, bool create = false);

  SharedFile(SharedFile&& other) noexcept;
  SharedFile& operator=(SharedFile&& other) noexcept;
  SharedFile(const SharedFile&) = delete;
  SharedFile& operator=(const SharedFile&) = delete;
  ~SharedFile();

  /// The file's size now.
  Expected<std::uint64_t> Size() const;
  /// Reads exactly count bytes at offset.
  Status ReadAt(void* buffer, std::size_t count, std::uint64_t offset) const;
  /// Writes all bytes at offset, in one call where the system allows.
  Status WriteAt(std::string_view bytes, std::uint64_t offset);

 private:
  friend class FileLock;
  explicit SharedFile(std::intptr_t handle) : handle_(handle) {}
  void Close();
  std::intptr_t handle_ = -1;
};

/// An exclusive lock on a lock file of the private folder, released on destruction.
class FileLock {
 public:
  /// Takes the lock, waiting at most wait for another holder to let go; the lock
  /// file is made when absent. Fails when it is still held then.
  static Expected<FileLock> Acquire(const std::string& path, std::chrono::milliseconds wait);

 private:
  explicit FileLock(SharedFile file) : file_(std::move(file)) {}
  // Holding the lock file open holds the lock; closing it lets go.
  SharedFile file_;
  // Tries once to take the lock: true when taken, false when held elsewhere.
  static Expected<bool> TryLock(SharedFile& file);
};

}  // namespace korbu::platform
