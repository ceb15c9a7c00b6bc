#pragma once
// Environment variables set for one test, and a handwritten Wine prefix.

#include <optional>
#include <string>

#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu::test {

using ScopedEnv = ScopedEnvironment;

/// system.reg, user.reg with the user's Shell Folders, drive_c/windows/system32
/// and dosdevices/c: -> ../drive_c; WINEPREFIX and HOME point into it meanwhile.
class FakePrefix {
 public:
  FakePrefix();
  std::string Path(const std::string& relative) const { return prefix_ + "/" + relative; }
  /// Canonical native path below drive_c.
  std::string DriveC(const std::string& relative = {}) const {
    return Path(relative.empty() ? "drive_c" : "drive_c/" + relative);
  }
  /// Writes a file below drive_c; returns its native path.
  std::string WriteC(const std::string& relative, const std::string& bytes = "MZ") const;

 private:
  TempTree tree_;
  std::string prefix_;
  ScopedEnv wineprefix_;
  ScopedEnv home_;
};

}  // namespace korbu::test
