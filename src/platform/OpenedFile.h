#pragma once
// A file opened once for reading, so that every check and every read made for a
// verdict sees one and the same file, whatever is swapped in under its name
// meanwhile. The open never follows a link in the last component, never blocks
// (a FIFO cannot stall the caller) and is not inherited by child programs; only a
// regular file is kept open.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace korbu::platform {

class OpenedFile {
 public:
  /// Opens the file at path. When that fails, or what was opened is not a
  /// regular file, the result is closed and Error tells why ("Permission
  /// denied", "not a regular file", ...).
  static OpenedFile Open(const std::string& path);
  /// Takes over a descriptor already open for reading (POSIX; one the kernel
  /// handed over, such as a file access event's): closed again, with Error
  /// telling why, unless it is a regular file.
  static OpenedFile Adopt(int descriptor);
  /// A file that was not opened, for the reason given.
  static OpenedFile Refused(std::string reason);

  /// Copies standard input, at most maxBytes of it (all of it with 0), into a
  /// temporary file of its own that no other program can open and that goes away
  /// when it is closed, and opens that. While it waits for input it asks stop a
  /// few times a second and gives up when stop says so. Error tells why it failed.
  static OpenedFile FromStandardInput(std::uint64_t maxBytes, const std::function<bool()>& stop);

  OpenedFile() = default;
  OpenedFile(OpenedFile&& other) noexcept;
  OpenedFile& operator=(OpenedFile&& other) noexcept;
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;
  ~OpenedFile();

  bool IsOpen() const;
  /// Why the file is not open, or why the last read failed; empty otherwise.
  const std::string& Error() const { return error_; }

  /// The file's size when it was opened.
  std::uint64_t Size() const { return size_; }

  /// Reads up to count bytes at offset, whatever any other reader of the file
  /// did to its position: the number read (0 at the end), or -1 on a read error
  /// (Error then tells it).
  std::int64_t ReadAt(void* buffer, std::size_t count, std::uint64_t offset);

  /// A C runtime descriptor of the open file for libraries that read through
  /// one; owned by this object, valid while it is open. -1 when closed or when
  /// none can be made.
  int Descriptor();

 private:
  void Close();

  std::intptr_t handle_ = -1;  // the platform's handle; -1 when closed
  int descriptor_ = -1;        // made on demand where it differs from handle_
  std::uint64_t size_ = 0;
  std::string error_;
};

}  // namespace korbu::platform
