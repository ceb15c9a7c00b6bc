#pragma once
// File services over the platform layer: attributes, the "in use" test, a
// recursive delete by name mask, reading a whole file and finding a text in one.
// The changing ones act through the held folder of the file (see Folder): a
// symbolic link in any component of the path is refused, never followed. The
// reading ones read a regular file, also when a final link names it.

#include <cstdint>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FolderHandle.h"

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

/// Visits a folder and every real folder below it, depth first, a folder before
/// its subfolders, subfolders in listing order: visit gets the held folder and its
/// entries matching the mask, listed before visit changes anything. Links are
/// never entered; a subfolder swapped for a link meanwhile is skipped. The open
/// folders are those on the way down to the one visited.
void ForEachFolderBelow(const platform::Folder& root, const std::string& mask,
                        const std::function<void(const platform::Folder&, const std::vector<platform::EntryInfo>&)>& visit);

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
/// Does nothing when the argument has no folder part or an empty mask, or a link
/// is on the folder's path.
void DeleteFilesRecursive(const std::string& pathWithMask);

/// The whole content of a regular file, zero bytes included. Meant for files of
/// the program's own; a file the repair examines is read through its held folder.
/// Throws FileReadError when the file cannot be opened or read.
std::string ReadFileToString(const std::string& path);

/// Zero-based offset in the file of the first occurrence of the text (byte-exact),
/// or -1 when it does not occur, the file cannot be read, or the text or the path
/// is empty. Zero bytes in the file end a run that a match must lie in, so a text
/// holding a zero byte is never found. The file is read in blocks; texts of any
/// length are handled, and matches across block boundaries are found.
std::int64_t FindTextInFile(const std::string& path, std::string_view text);

}  // namespace korbu
