#pragma once
// A handwritten Wine prefix for tests of the scan and the repair: system.reg and
// user.reg (with the user's Shell Folders), drive_c with the Windows, system,
// local application-data and pictures folders, and dosdevices/c: -> ../drive_c.
// WINEPREFIX points at it while it lives.

#include <optional>
#include <string>
#include <string_view>

#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu::test {

class WinePrefixFixture {
 public:
  /// Extra registry text is appended to the generated files (key blocks in Wine's
  /// format, e.g. "[Software\\\\Microsoft\\\\...] 0\n\"name\"=\"data\"\n").
  explicit WinePrefixFixture(std::string_view extraSystemReg = {}, std::string_view extraUserReg = {});

  /// The prefix folder.
  std::string Folder() const { return tree_.Path(); }
  /// A native path below drive_c ("windows/system32/x.exe").
  std::string DriveC(std::string_view relative = {}) const;
  /// Writes a file below drive_c; returns its native path.
  std::string WriteC(std::string_view relative, std::string_view bytes) const;

  std::string WindowsFolder() const { return DriveC("windows"); }
  std::string SystemFolder() const { return DriveC("windows/system32"); }
  std::string LocalAppData() const { return DriveC("users/tester/AppData/Local"); }
  std::string Pictures() const { return DriveC("users/tester/Pictures"); }

  std::string SystemReg() const { return tree_.Path("system.reg"); }
  std::string UserReg() const { return tree_.Path("user.reg"); }
  /// Every file of the prefix with its bytes, for before-and-after comparisons.
  std::string Snapshot() const;

 private:
  TempTree tree_;
  ScopedEnvironment wineprefix_;
};

/// A registry string in Wine's file format: quotes, with '\' and '"' escaped.
std::string WineRegString(std::string_view text);

}  // namespace korbu::test
