#pragma once
// Test helpers for the Windows-system services: environment variables set for one
// test, and a handwritten Wine prefix in a temporary tree.

#include <optional>
#include <string>

#include "support/TempTree.h"

namespace korbu::test {

/// Sets (or, with no value, removes) an environment variable until destroyed.
class ScopedEnv {
 public:
  ScopedEnv(std::string name, const std::optional<std::string>& value);
  ~ScopedEnv();
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  std::string name_;
  std::optional<std::string> old_;
};

/// A minimal Wine prefix: system.reg, user.reg with the user's Shell Folders,
/// drive_c/windows/system32 and dosdevices/c: -> ../drive_c. WINEPREFIX points at
/// it while the object lives; HOME points into the tree as well.
class FakePrefix {
 public:
  FakePrefix();

  const TempTree& Tree() const { return tree_; }
  /// Path below the prefix folder.
  std::string Path(const std::string& relative = {}) const;
  /// Canonical native path below drive_c (the tree holds no links above it).
  std::string DriveC(const std::string& relative = {}) const;
  /// Writes a file below drive_c; returns its canonical path.
  std::string WriteC(const std::string& relative, const std::string& bytes = "MZ") const;

 private:
  TempTree tree_;
  std::string prefix_;
  ScopedEnv wineprefix_;
  ScopedEnv home_;
};

}  // namespace korbu::test
