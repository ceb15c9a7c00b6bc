#include "platform/WindowsSystem.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ShellFixture.h"
#include "services/ShellUtils.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::FakePrefix;
using test::ScopedEnv;
using test::TempTree;

TEST(WindowsSystem, FoldersOfThePrefix) {
  FakePrefix prefix;
  EXPECT_EQ(WindowsDirectoryPath(), "C:\\windows");
  EXPECT_EQ(SystemDirectoryPath(), "C:\\windows\\system32");
  EXPECT_EQ(GetWindowsDir(), prefix.DriveC("windows"));
  EXPECT_EQ(GetSystemDir(), prefix.DriveC("windows/system32"));
}

TEST(WindowsSystem, ComponentsMatchIgnoringCaseExactNameFirst) {
  FakePrefix prefix;
  const auto hosts = prefix.WriteC("windows/system32/drivers/etc/hosts", "127.0.0.1 localhost");
  EXPECT_EQ(NativePath("C:\\WINDOWS\\System32\\DRIVERS\\Etc\\HOSTS"), hosts);
  EXPECT_EQ(NativePath("c:/windows/system32/drivers/etc/hosts"), hosts);

  prefix.WriteC("Twins/Foo", "upper");
  prefix.WriteC("Twins/foo", "lower");
  EXPECT_EQ(NativePath("C:\\twins\\foo"), prefix.DriveC("Twins/foo"));
  EXPECT_EQ(NativePath("C:\\twins\\Foo"), prefix.DriveC("Twins/Foo"));
  const auto either = NativePath("C:\\twins\\FOO");
  EXPECT_TRUE(either == prefix.DriveC("Twins/Foo") || either == prefix.DriveC("Twins/foo")) << either;
}

TEST(WindowsSystem, MissingPartsAreKeptAsWritten) {
  FakePrefix prefix;
  EXPECT_EQ(NativePath("C:\\WINDOWS\\NoSuch\\File.TXT"), prefix.DriveC("windows/NoSuch/File.TXT"));
  prefix.WriteC("windows/plain.txt");
  // A file where a folder is expected leads nowhere, but still gives a path.
  EXPECT_EQ(NativePath("C:\\windows\\PLAIN.txt\\x"), prefix.DriveC("windows/plain.txt/x"));
  EXPECT_EQ(NativeFolder("C:\\windows\\plain.txt"), "");
  EXPECT_EQ(NativeFolder("C:\\windows\\NoSuch"), "");
}

TEST(WindowsSystem, PathsNeverLeaveTheirDrive) {
  FakePrefix prefix;
  EXPECT_EQ(NativePath("C:\\..\\..\\system.reg"), prefix.DriveC("system.reg"));
  EXPECT_EQ(NativePath("C:\\windows\\..\\..\\user.reg"), prefix.DriveC("user.reg"));
  EXPECT_EQ(NativePath("C:\\"), prefix.DriveC());
  EXPECT_EQ(NativePath("\\\\server\\share\\x.exe"), "");
  EXPECT_EQ(NativePath("\\\\?\\C:\\windows"), "");
  EXPECT_EQ(NativePath(std::string("C:\\windows\\a\0b", 14)), "");
  EXPECT_EQ(NativePath("Q:\\x.exe"), "");  // no such drive
}

TEST(WindowsSystem, RelativePathsStartInTheSystemFolder) {
  FakePrefix prefix;
  const auto calc = prefix.WriteC("windows/system32/calc.exe");
  EXPECT_EQ(NativePath("calc.exe"), calc);
  EXPECT_EQ(NativePath("..\\SYSTEM32\\calc.exe"), calc);
  EXPECT_EQ(NativePath("C:calc.exe"), calc);
  EXPECT_EQ(NativePath("\\windows"), prefix.DriveC("windows"));
  EXPECT_EQ(WindowsCurrentDirectoryPath(), "C:\\windows\\system32");
}

TEST(WindowsSystem, OtherDrivesFollowTheirDosdevicesLink) {
  FakePrefix prefix;
  TempTree data;
  data.Write("Reports/Q1.txt", "x");
  fs::create_directory_symlink(data.Path(), prefix.Path("dosdevices/d:"));
  EXPECT_EQ(NativePath("D:\\reports\\q1.TXT"), fs::canonical(data.Path("Reports/Q1.txt")).string());
  fs::create_directory_symlink(prefix.Path("nowhere"), prefix.Path("dosdevices/e:"));
  EXPECT_EQ(NativePath("E:\\x"), "");  // a broken drive link
}

TEST(WindowsSystem, AFinalLinkIsNotResolved) {
  FakePrefix prefix;
  TempTree outside;
  outside.Write("target.exe", "MZ");
  fs::create_symlink(outside.Path("target.exe"), prefix.DriveC("link.exe"));
  EXPECT_EQ(NativePath("C:\\LINK.EXE"), prefix.DriveC("link.exe"));
}

TEST(WindowsSystem, PrefixWithoutDosdevicesStillHasItsSystemDrive) {
  FakePrefix prefix;
  fs::remove(prefix.Path("dosdevices/c:"));
  EXPECT_EQ(GetSystemDir(), prefix.DriveC("windows/system32"));
  EXPECT_EQ(NativePath("D:\\x"), "");
}

TEST(WindowsSystem, SpecialFoldersComeFromTheUsersShellFolders) {
  FakePrefix prefix;
  // The registry names folders that do not exist yet: nothing is resolved.
  EXPECT_EQ(GetSpecialFolderPath(kCsidlLocalAppData), "");
  EXPECT_EQ(GetPicturesFolder(), "");
  prefix.Tree().MakeDir("prefix/drive_c/users/Tester/AppData/Local");
  prefix.Tree().MakeDir("prefix/drive_c/users/Tester/Pictures");
  EXPECT_EQ(GetSpecialFolderPath(kCsidlLocalAppData), prefix.DriveC("users/Tester/AppData/Local"));
  EXPECT_EQ(GetPicturesFolder(), prefix.DriveC("users/Tester/Pictures"));
  EXPECT_EQ(GetSpecialFolderPath(5), "");  // not one the program knows

  test::WriteFileBytes(prefix.Path("user.reg"), "WINE REGISTRY Version 2\n\n#arch=win64\n");
  EXPECT_EQ(GetPicturesFolder(), "");
}

TEST(WindowsSystem, NothingWithoutAPrefix) {
  TempTree tree;
  tree.MakeDir("drive_c/windows/system32");  // not a prefix: no registry files
  ScopedEnv prefix("WINEPREFIX", tree.Path());
  EXPECT_EQ(WindowsDirectoryPath(), "");
  EXPECT_EQ(SystemDirectoryPath(), "");
  EXPECT_EQ(WindowsCurrentDirectoryPath(), "");
  EXPECT_EQ(NativePath("C:\\windows"), "");
  EXPECT_EQ(NativePath("calc.exe"), "");
  EXPECT_EQ(NativeFolder("C:\\"), "");
  EXPECT_EQ(SpecialFolderPath(kCsidlMyPictures), "");
}

}  // namespace
}  // namespace korbu::platform
