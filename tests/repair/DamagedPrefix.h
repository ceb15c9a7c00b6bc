#pragma once
// A handwritten Wine prefix with a Brontok infection's damage in place, and a
// Trash of its own (XDG_DATA_HOME and HOME point into a temporary folder).

#include <optional>
#include <string>
#include <string_view>

#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/WinePrefixFixture.h"

namespace korbu::test {

/// The registry damage, in Wine's file format, for user.reg and system.reg.
extern const char* const kDamagedUserReg;
extern const char* const kDamagedSystemReg;

class DamagedPrefix {
 public:
  DamagedPrefix();

  WinePrefixFixture& Prefix() { return prefix_; }
  /// Where a file moved to the trash under that name ends up.
  std::string Trashed(std::string_view name) const { return home_.Path("data/Trash/files/" + std::string(name)); }
  bool InTrash(std::string_view name) const;
  /// Outside the prefix: what links inside it point at.
  std::string Outside(std::string_view relative = {}) const { return outside_.Path(relative); }
  /// Inside the home folder the test set up.
  std::string Home(std::string_view relative = {}) const { return home_.Path(relative); }
  std::string Hosts() const { return prefix_.SystemFolder() + "/drivers/etc/hosts"; }

  /// The detected worm file.
  std::string wormFile;

 private:
  WinePrefixFixture prefix_;
  TempTree home_;
  TempTree outside_;
  ScopedEnvironment data_;
  ScopedEnvironment homeVar_;
};

/// Holds an exclusive lock on a file (as a program using it would) while it lives.
class FileLock {
 public:
  explicit FileLock(const std::string& path);
  ~FileLock();
  FileLock(const FileLock&) = delete;
  FileLock& operator=(const FileLock&) = delete;
  bool Held() const { return held_; }

 private:
  int fd_ = -1;
  bool held_ = false;
};

/// The data of a registry value, or empty when it does not exist with that type.
std::optional<std::string> RegData(unsigned root, std::string_view valuePath, unsigned type);

}  // namespace korbu::test
