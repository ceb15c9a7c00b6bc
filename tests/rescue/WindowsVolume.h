#pragma once
// A folder laid out like a Windows system volume, with its hives made in the test:
// the machine's SOFTWARE and SYSTEM, and the NTUSER.DAT of three users (alice and
// bob named by the ProfileList, carol only by her profile folder), beside the
// profiles that belong to no user (Default, the service accounts').

#include <string>

#include "support/TempTree.h"

namespace korbu::test {

inline constexpr const char* kAliceSid = "S-1-5-21-1-2-3-1001";
inline constexpr const char* kBobSid = "S-1-5-21-1-2-3-1002";

class WindowsVolume {
 public:
  WindowsVolume();

  std::string Root() const { return tree_.Path(); }
  /// A path below the root, '/' between components.
  std::string Path(const std::string& relative) const { return tree_.Path(relative); }
  std::string Write(const std::string& relative, const std::string& bytes) const { return tree_.Write(relative, bytes); }

  std::string Software() const { return Path("Windows/System32/config/SOFTWARE"); }
  std::string System() const { return Path("Windows/System32/config/SYSTEM"); }
  /// The NTUSER.DAT of "alice", "bob" or "carol".
  std::string UserHive(const std::string& user) const;

 private:
  TempTree tree_;
};

}  // namespace korbu::test
