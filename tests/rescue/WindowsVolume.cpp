#include "rescue/WindowsVolume.h"

#include "rescue/HiveFixture.h"

namespace korbu::test {
namespace {

constexpr const char* kProfileList = "Microsoft\\Windows NT\\CurrentVersion\\ProfileList\\";

// REG_EXPAND_SZ data, as Windows stores profile paths.
std::string ExpandString(const std::string& text) { return StringData(text); }

}  // namespace

WindowsVolume::WindowsVolume() {
  tree_.MakeDir("Windows/System32/drivers/etc");
  tree_.MakeDir("Windows/Tasks");
  WriteEmptyHive(Software());
  WriteEmptyHive(System());
  // Profile folders spelt as Windows keeps them; bob's differs in case from the
  // ProfileList's, as Windows allows.
  for (const char* user : {"alice", "bob", "carol"}) WriteEmptyHive(UserHive(user));
  WriteEmptyHive(Path("Users/Default/NTUSER.DAT"));
  WriteEmptyHive(Path("Windows/System32/config/systemprofile/NTUSER.DAT"));
  tree_.MakeDir("Users/Public");

  HiveEdit(Software())
      .SetString("Microsoft\\Windows NT\\CurrentVersion", "SystemRoot", "C:\\WINDOWS")
      .Set(std::string(kProfileList) + kAliceSid, "ProfileImagePath", 2, ExpandString("%SystemDrive%\\Users\\alice"))
      .Set(std::string(kProfileList) + kBobSid, "ProfileImagePath", 2, ExpandString("C:\\Users\\Bob"))
      .Set(std::string(kProfileList) + "S-1-5-18", "ProfileImagePath", 2,
           ExpandString("%systemroot%\\system32\\config\\systemprofile"))
      .Commit();
  HiveEdit(System())
      .SetDword("Select", "Current", 1)
      .SetString("ControlSet001\\Control\\SafeBoot", "AlternateShell", "cmd.exe")
      .Commit();
}

std::string WindowsVolume::UserHive(const std::string& user) const { return Path("Users/" + user + "/NTUSER.DAT"); }

}  // namespace korbu::test
