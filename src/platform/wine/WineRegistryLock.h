#pragma once
// Who may write a Wine prefix's registry files, and when.
//
// A running wineserver holds the whole registry in memory and writes it back to
// the files on its own, so a change made to a file meanwhile would be lost: the
// server's presence is seen from the lock file it holds locked in its server
// folder. Between writers of this program an exclusive lock on a file beside the
// registry file orders the read-modify-write cycles.

#include <optional>
#include <string>

#include "platform/Expected.h"

namespace korbu::platform::wine {

/// True when a wineserver runs for the prefix, or when that cannot be ruled out
/// (a lock file that exists but cannot be examined). The server folder is
/// server-<dev>-<inode> (hex, of the prefix folder) inside /tmp/.wine-<uid>, or
/// inside the folder that the prefix's "wineserver" file names below $TMPDIR or
/// /tmp (Debian's Wine); uid is the prefix's owner, as Wine serves a prefix only
/// to its owner.
bool WineServerRunning(const std::string& prefix);

/// The folder that must be TMPDIR for a Wine process to find the prefix's
/// running server (Debian's Wine looks below TMPDIR); empty when none is needed
/// or no server was found.
std::string WineServerTmpDir(const std::string& prefix);

/// Whether wineserver can save a registry file of the prefix as it does: a new
/// file in the prefix folder renamed over the old one (or, for a file that is not
/// a regular file or has other links, written in place). The reason when it
/// cannot: an immutable or append-only file, a folder where no file can be made.
Status RegistryFileSavable(const std::string& registryFile);

/// An exclusive lock held on "<folder>/.<name>.lock" for a registry file, released
/// on destruction. Other holders are waited for.
class RegistryWriteLock {
 public:
  /// Empty when the lock file cannot be created or locked.
  static std::optional<RegistryWriteLock> Acquire(const std::string& registryFile);

  RegistryWriteLock(RegistryWriteLock&& other) noexcept;
  RegistryWriteLock& operator=(RegistryWriteLock&& other) noexcept;
  RegistryWriteLock(const RegistryWriteLock&) = delete;
  RegistryWriteLock& operator=(const RegistryWriteLock&) = delete;
  ~RegistryWriteLock();

 private:
  explicit RegistryWriteLock(int fd) : fd_(fd) {}
  int fd_ = -1;
};

}  // namespace korbu::platform::wine
