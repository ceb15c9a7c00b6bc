#pragma once
// File services over the platform layer: attributes, the "in use" test, a
// recursive delete by name mask, reading a whole file and finding a text in one.
// The changing ones never follow a symbolic link; the reading ones read a regular
// file, also when a final link names it.

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>

namespace korbu {

/// Raised by ReadFileToString when a file cannot be opened or read.
class FileReadError : public std::runtime_error {
 public:
  explicit FileReadError(const std::string& path)
      : std::runtime_error("Cannot read file \"" + path + "\""), path_(path) {}
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

/// Clears read-only, hidden, system and archive (as far as the platform keeps
/// them; on POSIX this gives the owner write permission back). False when the
/// attributes could not be set, also for a symbolic link.
bool ClearFileAttributes(const std::string& path);

/// True when a file exists at the path but cannot be opened for reading and
/// writing with nobody else using it (in use, or no right to open it so).
/// False for a missing path, a folder or a symbolic link.
bool IsFileLocked(const std::string& path);

/// Deletes the files matching a name mask in a folder and in all folders below
/// it. The argument is the folder followed by the mask (".../AppData/*Bron*.*").
/// Each matching file loses its read-only flag and is deleted unless
/// IsFileLocked reports it in use; failures are ignored and folders stay.
/// A matching symbolic link is removed as a link, never its target, and a link
/// to a folder is never entered, so nothing outside the folder is touched.
/// The folder is opened as the caller names it. Does nothing when the argument
/// has no folder part or an empty mask.
void DeleteFilesRecursive(const std::string& pathWithMask);

/// The whole content of a regular file, zero bytes included.
/// Throws FileReadError when the file cannot be opened or read.
std::string ReadFileToString(const std::string& path);

/// Zero-based offset in the file of the first occurrence of the text (byte-exact),
/// or -1 when it does not occur, the file cannot be read, or the text or the path
/// is empty. Zero bytes in the file end a run that a match must lie in, so a text
/// holding a zero byte is never found. The file is read in blocks; texts of any
/// length are handled, and matches across block boundaries are found.
std::int64_t FindTextInFile(const std::string& path, std::string_view text);

}  // namespace korbu
