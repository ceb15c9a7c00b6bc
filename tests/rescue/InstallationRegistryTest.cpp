// The root keys over an installation's hives: where each lands, that changes wait
// for Commit, and that a hive that must not be written is refused while reading
// goes on.
#include "platform/rescue/InstallationRegistry.h"

#include <gtest/gtest.h>

#include "platform/Registry.h"
#include "platform/WindowsSystem.h"
#include "platform/rescue/UserFolders.h"
#include "rescue/HiveFixture.h"
#include "rescue/WindowsVolume.h"

namespace korbu::platform::rescue {
namespace {

using test::DwordData;
using test::HiveData;
using test::ReadHiveValue;
using test::StringData;

constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";

WindowsInstallation Find(const test::WindowsVolume& volume) {
  auto found = FindWindowsInstallation(volume.Root());
  EXPECT_TRUE(found) << found.Reason();
  return *found;
}

TEST(InstallationRegistry, RootKeysLandInTheirHivesOnCommit) {
  test::WindowsVolume volume;
  InstallationRegistry registry(Find(volume), test::kBobSid);

  // CurrentControlSet is the set SYSTEM's Select\Current names.
  auto safeBoot = registry.Values(kHkeyLocalMachine, "SYSTEM\\CurrentControlSet\\Control\\SafeBoot");
  ASSERT_TRUE(safeBoot) << safeBoot.Reason();
  ASSERT_EQ(safeBoot->size(), 1u);
  EXPECT_EQ((*safeBoot)[0].data, StringData("cmd.exe"));
  auto users = registry.Subkeys(kHkeyUsers, "");
  ASSERT_TRUE(users);
  EXPECT_EQ(*users, (std::vector<std::string>{test::kAliceSid, test::kBobSid, "carol"}));

  ASSERT_TRUE(registry.SetValue(kHkeyClassesRoot, "exefile\\shell\\open\\command", {"", 1, StringData("\"%1\" %*")}));
  ASSERT_TRUE(registry.SetValue(kHkeyUsers, std::string(test::kAliceSid) + "\\" + kPolicies,
                                {"DisableTaskMgr", 4, DwordData(0)}));
  ASSERT_TRUE(registry.SetValue(kHkeyCurrentUser, kPolicies, {"DisableCMD", 4, DwordData(0)}));
  EXPECT_FALSE(ReadHiveValue(volume.UserHive("alice"), kPolicies, "DisableTaskMgr")) << "written before Commit";

  ASSERT_TRUE(registry.Commit().empty());
  EXPECT_EQ(ReadHiveValue(volume.Software(), "Classes\\exefile\\shell\\open\\command", ""),
            (HiveData{1, StringData("\"%1\" %*")}));
  EXPECT_EQ(ReadHiveValue(volume.UserHive("alice"), kPolicies, "DisableTaskMgr"), (HiveData{4, DwordData(0)}));
  EXPECT_EQ(ReadHiveValue(volume.UserHive("bob"), kPolicies, "DisableCMD"), (HiveData{4, DwordData(0)}));
  EXPECT_FALSE(ReadHiveValue(volume.UserHive("alice"), kPolicies, "DisableCMD"));

  EXPECT_EQ(test::KindOf(registry.Values(kHkeyUsers, "nobody\\Software")), ErrorKind::NotFound);
  EXPECT_FALSE(registry.Values(kHkeyCurrentConfig, "Software"));
  InstallationRegistry noUser(Find(volume));
  EXPECT_FALSE(noUser.Values(kHkeyCurrentUser, kPolicies));
}

TEST(InstallationRegistry, RefusesToWriteWhatCouldLoseDataAndStillReads) {
  test::WindowsVolume volume;
  const std::string bobKey = std::string(test::kBobSid) + "\\" + kPolicies;
  test::HiveEdit(volume.UserHive("bob")).SetDword(kPolicies, "DisableTaskMgr", 1).Commit();
  const std::string clean = test::ReadFileBytes(volume.UserHive("bob"));
  test::MarkHiveDirty(volume.UserHive("bob"));

  {
    InstallationRegistry registry(Find(volume));
    auto values = registry.Values(kHkeyUsers, bobKey);
    ASSERT_TRUE(values) << values.Reason();
    Status refused = registry.SetValue(kHkeyUsers, bobKey, {"DisableTaskMgr", 4, DwordData(0)});
    EXPECT_NE(refused.Reason().find("is dirty"), std::string::npos) << refused.Reason();
    // Another user's hive is its own matter.
    EXPECT_TRUE(registry.SetValue(kHkeyUsers, std::string(test::kAliceSid) + "\\x", {"v", 4, DwordData(0)}));
  }

  test::WriteFileBytes(volume.UserHive("bob"), clean);
  volume.Write("hiberfil.sys", "HIBR" + std::string(60, '\0'));
  InstallationRegistry registry(Find(volume));
  auto values = registry.Values(kHkeyUsers, bobKey);
  ASSERT_TRUE(values) << values.Reason();
  EXPECT_EQ(values->size(), 1u);
  EXPECT_FALSE(registry.CheckWritable());
  Status refused = registry.DeleteValue(kHkeyUsers, bobKey, "DisableTaskMgr");
  EXPECT_NE(refused.Reason().find("hibernated"), std::string::npos) << refused.Reason();
  EXPECT_TRUE(registry.Commit().empty());
  EXPECT_EQ(ReadHiveValue(volume.UserHive("bob"), kPolicies, "DisableTaskMgr"), (HiveData{4, DwordData(1)}));
}

}  // namespace
}  // namespace korbu::platform::rescue

namespace korbu::platform::rescue {
namespace {

TEST(UserFolders, AsTheUsersHiveRecordsThemElseWhereWindowsPutsThem) {
  test::WindowsVolume volume;
  const std::string explorer = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\";
  test::HiveEdit(volume.UserHive("alice"))
      .Set(explorer + "User Shell Folders", "Local AppData", 2, StringData("%USERPROFILE%\\AppData\\Local"))
      .Commit();
  test::HiveEdit(volume.UserHive("carol"))
      .SetString(explorer + "Shell Folders", "My Pictures", "C:\\Users\\carol\\Bilder")
      .Commit();
  volume.Write("Users/bob/Local Settings/Application Data/x", "");
  volume.Write("Users/alice/Pictures/x", "");
  volume.Write("Users/carol/Bilder/x", "");
  InstallationRegistry registry(Find(volume));
  const auto& users = registry.Installation().users;
  ASSERT_EQ(users.size(), 3u);
  EXPECT_EQ(UserShellFolderPath(registry, users[0], kCsidlLocalAppData), "C:\\Users\\alice\\AppData\\Local");
  EXPECT_EQ(UserShellFolderPath(registry, users[0], kCsidlMyPictures), "C:\\Users\\alice\\Pictures");
  EXPECT_EQ(UserShellFolderPath(registry, users[1], kCsidlLocalAppData), "C:\\Users\\Bob\\Local Settings\\Application Data");
  EXPECT_EQ(UserShellFolderPath(registry, users[1], kCsidlMyPictures), "");
  EXPECT_EQ(UserShellFolderPath(registry, users[2], kCsidlMyPictures), "C:\\Users\\carol\\Bilder");
}

}  // namespace
}  // namespace korbu::platform::rescue
