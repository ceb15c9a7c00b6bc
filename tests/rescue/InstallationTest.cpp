// Finding a Windows installation on a mounted volume, and the checks that hold
// back every write to it.
#include "platform/rescue/WindowsInstallation.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "platform/rescue/VolumeChecks.h"
#include "rescue/HiveFixture.h"
#include "rescue/WindowsVolume.h"

namespace korbu::platform::rescue {
namespace {

TEST(WindowsInstallation, FindsTheMachineHivesAndEveryUser) {
  test::WindowsVolume volume;
  auto found = FindWindowsInstallation(volume.Root() + "/");
  ASSERT_TRUE(found) << found.Reason();
  EXPECT_EQ(found->windowsPath, "C:\\WINDOWS");  // spelt as SystemRoot has it
  EXPECT_EQ(found->windows, volume.Path("Windows"));
  EXPECT_EQ(found->softwareHive, "SOFTWARE");
  EXPECT_EQ(found->systemHive, "SYSTEM");
  // The ProfileList's users by their SIDs (bob's path in another case than his
  // folder), then the profile folder no SID names; never the service account's,
  // the template's or Public.
  ASSERT_EQ(found->users.size(), 3u);
  EXPECT_EQ(found->users[0].key, test::kAliceSid);
  EXPECT_EQ(found->users[0].profilePath, "C:\\Users\\alice");
  EXPECT_EQ(found->users[0].profile, volume.Path("Users/alice"));
  EXPECT_EQ(found->users[1].key, test::kBobSid);
  EXPECT_EQ(found->users[1].profile, volume.Path("Users/bob"));
  EXPECT_EQ(found->users[2].key, "carol");
  EXPECT_EQ(found->users[2].hiveName, "NTUSER.DAT");

  // Windows paths map below the root only, matched ignoring case.
  EXPECT_EQ(InstallationPath(*found, "c:\\windows\\SYSTEM32\\Drivers\\etc\\hosts"),
            volume.Path("Windows/System32/drivers/etc/hosts"));
  EXPECT_EQ(InstallationPath(*found, "C:\\..\\..\\etc\\passwd"), volume.Path("etc/passwd"));
  EXPECT_EQ(InstallationPath(*found, "D:\\x.exe"), "");
  EXPECT_EQ(InstallationPath(*found, "x.exe"), "");
  EXPECT_FALSE(OpenInstallationFolder(*found, "C:\\Users\\nobody"));

  test::TempTree empty;
  auto none = FindWindowsInstallation(empty.Path());
  ASSERT_FALSE(none);
  EXPECT_NE(none.Reason().find("not the root of a Windows system volume"), std::string::npos);
}

TEST(VolumeChecks, RefuseAHibernatedWindowsAndADirtyHive) {
  test::TempTree tree;
  auto root = Folder::Open(tree.Path());
  ASSERT_TRUE(root);
  EXPECT_TRUE(CheckNotHibernated(*root)) << "no hiberfil.sys";
  tree.Write("hiberfil.sys", std::string(4096, '\0'));
  EXPECT_TRUE(CheckNotHibernated(*root)) << "a cleared image";
  tree.Write("hiberfil.sys", "wake" + std::string(4092, '\0'));
  EXPECT_TRUE(CheckNotHibernated(*root)) << "an image resumed from";
  std::filesystem::remove(tree.Path("hiberfil.sys"));
  tree.Write("HIBERFIL.SYS", "HIBR" + std::string(4092, '\x11'));
  Status hibernated = CheckNotHibernated(*root);
  EXPECT_NE(hibernated.Reason().find("fast start-up"), std::string::npos) << hibernated.Reason();

  test::WriteEmptyHive(tree.Path("CLEAN"));
  test::WriteEmptyHive(tree.Path("DIRTY"), {}, true);
  EXPECT_TRUE(CheckHiveClean(*root, "CLEAN"));
  Status dirty = CheckHiveClean(*root, "DIRTY");
  EXPECT_NE(dirty.Reason().find("dirty (sequence numbers 1 and 2)"), std::string::npos) << dirty.Reason();
  EXPECT_FALSE(CheckHiveClean(*root, "hiberfil.sys"));
  EXPECT_TRUE(CheckWritableVolume(*root));
}

}  // namespace
}  // namespace korbu::platform::rescue
