#pragma once
// Helpers of the fault tests: a run without root for checks that rely on file
// permissions, and a disk that fills up.

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "scan/ScanFrontEnd.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"

namespace korbu::test {

enum class CheckRun { Passed, Failed, CannotRun };

/// Runs check as a user whom file permissions keep out. Root reads every file
/// whatever its mode, so as root the folder is handed to "nobody" and check runs
/// in a child process that has given up root; a crash there is a failure. check
/// prints why it failed to stderr and returns false; it returns std::nullopt when
/// the situation it needs cannot be arranged.
CheckRun RunUnprivileged(const std::string& folder, const std::function<std::optional<bool>()>& check);

/// A disk that can be filled: a small tmpfs mounted under a temporary folder when
/// this process may mount one, else an ordinary folder where filling it sets a
/// limit on the size of any file the process writes (RLIMIT_FSIZE). Either way a
/// write that does not fit fails as on a full disk. Unmounted, and the limit
/// lifted, on destruction.
class FillableDisk {
 public:
  /// Mounts (or picks) the disk below tree; never fails.
  explicit FillableDisk(const TempTree& tree);
  ~FillableDisk();
  FillableDisk(const FillableDisk&) = delete;
  FillableDisk& operator=(const FillableDisk&) = delete;

  const std::string& Folder() const { return folder_; }
  /// True for a real small file system; false for the file size limit.
  bool Mounted() const { return mounted_; }

  /// Leaves room for files of at most spare bytes, the ones there already aside.
  void Fill(std::size_t spare);
  /// Gives the room back.
  void Free();

 private:
  std::string folder_;
  bool mounted_ = false;
  bool limited_ = false;
};

}  // namespace korbu::test
