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

TEST(WindowsSystem, ComponentsMatchIgnoringCaseExactNameFirst) {
  FakePrefix prefix;
  EXPECT_EQ(GetWindowsDir(), prefix.DriveC("windows"));
  EXPECT_EQ(GetSystemDir(), prefix.DriveC("windows/system32"));
  const auto hosts = prefix.WriteC("windows/system32/drivers/etc/hosts");
  EXPECT_EQ(NativePath("C:\\WINDOWS\\System32\\DRIVERS\\Etc\\HOSTS"), hosts);
  EXPECT_EQ(NativePath("c:/windows\\system32/drivers/etc/hosts"), hosts);
  prefix.WriteC("Twins/Foo");
  prefix.WriteC("Twins/foo");
  EXPECT_EQ(NativePath("C:\\twins\\foo"), prefix.DriveC("Twins/foo"));
  EXPECT_EQ(NativePath("C:\\twins\\Foo"), prefix.DriveC("Twins/Foo"));
}

TEST(WindowsSystem, MissingPartsAreKeptAsWrittenAndNeverLeaveTheDrive) {
  FakePrefix prefix;
  EXPECT_EQ(NativePath("C:\\WINDOWS\\NoSuch\\File.TXT"), prefix.DriveC("windows/NoSuch/File.TXT"));
  prefix.WriteC("windows/plain.txt");
  EXPECT_EQ(NativePath("C:\\windows\\PLAIN.txt\\x"), prefix.DriveC("windows/plain.txt/x"));
  EXPECT_EQ(NativeFolder("C:\\windows\\plain.txt"), "");
  EXPECT_EQ(NativeFolder("C:\\windows\\NoSuch"), "");
  EXPECT_EQ(NativePath("C:\\windows\\..\\..\\..\\user.reg"), prefix.DriveC("user.reg"));
  EXPECT_EQ(NativePath("C:\\"), prefix.DriveC());
  for (const char* unmapped : {"\\\\server\\share\\x.exe", "\\\\?\\C:\\windows", "Q:\\x.exe"}) {
    EXPECT_EQ(NativePath(unmapped), "") << unmapped;
  }
  EXPECT_EQ(NativePath(std::string("C:\\a\0b", 6)), "");
}

TEST(WindowsSystem, RelativePathsStartInTheSystemFolder) {
  FakePrefix prefix;
  const auto calc = prefix.WriteC("windows/system32/calc.exe");
  EXPECT_EQ(NativePath("calc.exe"), calc);
  EXPECT_EQ(NativePath("..\\SYSTEM32\\calc.exe"), calc);
  EXPECT_EQ(NativePath("C:calc.exe"), calc);
  EXPECT_EQ(NativePath("\\windows"), prefix.DriveC("windows"));
}

TEST(WindowsSystem, DrivesAndLinks) {
  FakePrefix prefix;
  TempTree data;
  data.Write("Reports/Q1.txt", "x");
  fs::create_directory_symlink(data.Path(), prefix.Path("dosdevices/d:"));
  EXPECT_EQ(NativePath("D:\\reports\\q1.TXT"), fs::canonical(data.Path("Reports/Q1.txt")).string());
  fs::create_directory_symlink(prefix.Path("nowhere"), prefix.Path("dosdevices/e:"));
  EXPECT_EQ(NativePath("E:\\x"), "");
  // A final link is named, not followed.
  fs::create_symlink(data.Path("Reports/Q1.txt"), prefix.DriveC("link.exe"));
  EXPECT_EQ(NativePath("C:\\LINK.EXE"), prefix.DriveC("link.exe"));
  // Without its dosdevices link the system drive is still the prefix's drive_c.
  fs::remove(prefix.Path("dosdevices/c:"));
  EXPECT_EQ(GetSystemDir(), prefix.DriveC("windows/system32"));
}

TEST(WindowsSystem, SpecialFoldersComeFromTheUsersShellFolders) {
  FakePrefix prefix;
  EXPECT_EQ(GetSpecialFolderPath(kCsidlLocalAppData), "");  // named, but not there
  fs::create_directories(prefix.DriveC("users/Tester/AppData/Local"));
  EXPECT_EQ(GetSpecialFolderPath(kCsidlLocalAppData), prefix.DriveC("users/Tester/AppData/Local"));
  // Wine links the pictures folder to the user's own; the folder is where it leads.
  TempTree pictures;
  fs::create_directory_symlink(pictures.Path(), prefix.DriveC("users/Tester/Pictures"));
  EXPECT_EQ(GetPicturesFolder(), fs::canonical(pictures.Path()).string());
  EXPECT_EQ(GetSpecialFolderPath(5), "");
  test::WriteFileBytes(prefix.Path("user.reg"), "WINE REGISTRY Version 2\n\n#arch=win64\n");
  EXPECT_EQ(GetPicturesFolder(), "");
}

TEST(WindowsSystem, NothingWithoutAPrefix) {
  TempTree tree;
  tree.MakeDir("drive_c/windows/system32");  // no registry files: not a prefix
  ScopedEnv prefix("WINEPREFIX", tree.Path());
  EXPECT_EQ(WindowsDirectoryPath(), "");
  EXPECT_EQ(SystemDirectoryPath(), "");
  EXPECT_EQ(WindowsCurrentDirectoryPath(), "");
  EXPECT_EQ(NativePath("C:\\windows"), "");
  EXPECT_EQ(NativePath("calc.exe"), "");
  EXPECT_EQ(SpecialFolderPath(kCsidlMyPictures), "");
}

}  // namespace
}  // namespace korbu::platform
