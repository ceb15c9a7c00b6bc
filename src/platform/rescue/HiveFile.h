#pragma once
// A hive file of a mounted Windows installation read as Windows reads it at
// load: the file and its transaction logs each read once into memory of the
// program's own (the volume's owner can shrink the files meanwhile, never what
// was read), a dirty hive recovered from its logs, and the result checked.

#include <sys/types.h>

#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "platform/posix/PosixSupport.h"
#include "platform/rescue/HiveLogs.h"

namespace korbu::platform::rescue {

struct LoadedHive {
  std::string path;
  std::string bytes;     // as Windows would load it: recovered when dirty, cut to its bins
  std::string original;  // the file as read
  std::vector<HiveLog> logs;
  HiveReplay replay;
  bool dirty = false;        // the file's sequence numbers differ or its checksum is wrong
  Status readable = Ok();    // why bytes cannot be read at all (damaged)
  Status writable = Ok();    // why they must not be written: damaged, or dirty with no log to replay
  posix::UniqueFd file;  // the file read, held so that another one cannot take its number
  dev_t device = 0;
  ino_t inode = 0;
  mode_t mode = 0600;
  uid_t owner = 0;
  gid_t group = 0;
};

/// The largest hive file read (Windows itself loads none near this).
inline constexpr std::uint64_t kMaxHiveBytes = 1ULL << 31;

/// Reads the hive `name` of the folder and its .LOG, .LOG1 and .LOG2 files,
/// never through a link. Fails only when the file cannot be read; a damaged or
/// unrecoverable hive comes back with the reasons in readable and writable
/// (a dirty hive whose logs do not apply is read as its file holds it).
Expected<LoadedHive> LoadHive(const Folder& folder, const std::string& name);

/// The names of the transaction logs beside the hive `name` (.LOG1, .LOG2,
/// .LOG, spelt as the folder spells them) that exist as regular files no larger
/// than a log is read (1 GiB).
std::vector<std::string> HiveLogNames(const Folder& folder, const std::string& name);

/// Reads a whole open file once into memory; a file shorter than it was said to
/// be is read as it is.
Expected<std::string> ReadWholeFile(int fd, std::uint64_t maxBytes);

}  // namespace korbu::platform::rescue
