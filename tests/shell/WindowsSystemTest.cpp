#include "platform/WindowsSystem.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ShellFixture.h"
#include "services/ShellUtils.h"
#include "platform/SystemFactory.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::FakePrefix;
using test::ScopedEnv;
using test::TempTree;

TEST(WindowsSystem, ComponentsMatchIgnoringCaseExactNameFirst) {
  FakePrefix prefix;
  EXPECT_EQ(GetWindowsDir(*DefaultWindowsSystem()), prefix.DriveC("windows"));
  EXPECT_EQ(GetSystemDir(*DefaultWindowsSystem()), prefix.DriveC("windows/system32"));
  const auto hosts = prefix.WriteC("windows/system32/drivers/etc/hosts");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\WINDOWS\\System32\\DRIVERS\\Etc\\HOSTS"), hosts);
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("c:/windows\\system32/drivers/etc/hosts"), hosts);
  prefix.WriteC("Twins/Foo");
  prefix.WriteC("Twins/foo");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\twins\\foo"), prefix.DriveC("Twins/foo"));
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\twins\\Foo"), prefix.DriveC("Twins/Foo"));
}

TEST(WindowsSystem, MissingPartsAreKeptAsWrittenAndNeverLeaveTheDrive) {
  FakePrefix prefix;
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\WINDOWS\\NoSuch\\File.TXT"), prefix.DriveC("windows/NoSuch/File.TXT"));
  prefix.WriteC("windows/plain.txt");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\windows\\PLAIN.txt\\x"), prefix.DriveC("windows/plain.txt/x"));
  EXPECT_EQ(DefaultWindowsSystem()->NativeFolder("C:\\windows\\plain.txt"), "");
  EXPECT_EQ(DefaultWindowsSystem()->NativeFolder("C:\\windows\\NoSuch"), "");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\windows\\..\\..\\..\\user.reg"), prefix.DriveC("user.reg"));
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\"), prefix.DriveC());
  for (const char* unmapped : {"\\\\server\\share\\x.exe", "\\\\?\\C:\\windows", "Q:\\x.exe"}) {
    EXPECT_EQ(DefaultWindowsSystem()->NativePath(unmapped), "") << unmapped;
  }
  EXPECT_EQ(DefaultWindowsSystem()->NativePath(std::string("C:\\a\0b", 6)), "");
}

TEST(WindowsSystem, RelativePathsStartInTheSystemFolder) {
  FakePrefix prefix;
  const auto calc = prefix.WriteC("windows/system32/calc.exe");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("calc.exe"), calc);
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("..\\SYSTEM32\\calc.exe"), calc);
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:calc.exe"), calc);
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("\\windows"), prefix.DriveC("windows"));
}

TEST(WindowsSystem, DrivesAndLinks) {
  FakePrefix prefix;
  TempTree data;
  data.Write("Reports/Q1.txt", "x");
  fs::create_directory_symlink(data.Path(), prefix.Path("dosdevices/d:"));
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("D:\\reports\\q1.TXT"), fs::canonical(data.Path("Reports/Q1.txt")).string());
  fs::create_directory_symlink(prefix.Path("nowhere"), prefix.Path("dosdevices/e:"));
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("E:\\x"), "");
  // A final link is named, not followed.
  fs::create_symlink(data.Path("Reports/Q1.txt"), prefix.DriveC("link.exe"));
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\LINK.EXE"), prefix.DriveC("link.exe"));
  // Without its dosdevices link the system drive is still the prefix's drive_c.
  fs::remove(prefix.Path("dosdevices/c:"));
  EXPECT_EQ(GetSystemDir(*DefaultWindowsSystem()), prefix.DriveC("windows/system32"));
}

TEST(WindowsSystem, SpecialFoldersComeFromTheUsersShellFolders) {
  FakePrefix prefix;
  EXPECT_EQ(GetSpecialFolderPath(*DefaultWindowsSystem(), kCsidlLocalAppData), "");  // named, but not there
  fs::create_directories(prefix.DriveC("users/Tester/AppData/Local"));
  EXPECT_EQ(GetSpecialFolderPath(*DefaultWindowsSystem(), kCsidlLocalAppData), prefix.DriveC("users/Tester/AppData/Local"));
  // Wine links the pictures folder to the user's own; the folder is where it leads.
  TempTree pictures;
  fs::create_directory_symlink(pictures.Path(), prefix.DriveC("users/Tester/Pictures"));
  EXPECT_EQ(GetPicturesFolder(*DefaultWindowsSystem()), fs::canonical(pictures.Path()).string());
  EXPECT_EQ(GetSpecialFolderPath(*DefaultWindowsSystem(), 5), "");
  test::WriteFileBytes(prefix.Path("user.reg"), "WINE REGISTRY Version 2\n\n#arch=win64\n");
  EXPECT_EQ(GetPicturesFolder(*DefaultWindowsSystem()), "");
}

// What a row or a record names is opened afresh, but Default stands for the
// system its scan ran on, not for whatever the environment names by then.
TEST(WindowsSystem, ARecordResolvesToItsSystemAndDefaultToTheScannedOne) {
  FakePrefix first;
  const auto scanned = DefaultWindowsSystem();
  const std::string firstDrive = scanned->NativePath("C:\\");
  FakePrefix second;  // WINEPREFIX names this one now
  EXPECT_EQ(ResolveSystem({}, scanned), scanned);
  EXPECT_EQ(ResolveSystem(scanned->Identity(), scanned), scanned);
  EXPECT_EQ(ResolveSystem(WindowsSystemRef::Prefix(first.Path(".")), scanned), scanned);  // another name of it
  const auto other = ResolveSystem(WindowsSystemRef::Prefix(second.Path("")), scanned);
  EXPECT_NE(other, scanned);
  EXPECT_EQ(other->NativePath("C:\\"), second.DriveC());
  EXPECT_EQ(ResolveSystem({})->NativePath("C:\\"), second.DriveC());  // no scanned system: the default one now
  EXPECT_EQ(firstDrive, first.DriveC());
}

TEST(WindowsSystem, NothingWithoutAPrefix) {
  TempTree tree;
  tree.MakeDir("drive_c/windows/system32");  // no registry files: not a prefix
  ScopedEnv prefix("WINEPREFIX", tree.Path());
  EXPECT_EQ(DefaultWindowsSystem()->WindowsDirectoryPath(), "");
  EXPECT_EQ(DefaultWindowsSystem()->SystemDirectoryPath(), "");
  EXPECT_EQ(DefaultWindowsSystem()->CurrentDirectoryPath(), "");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("C:\\windows"), "");
  EXPECT_EQ(DefaultWindowsSystem()->NativePath("calc.exe"), "");
  EXPECT_EQ(DefaultWindowsSystem()->SpecialFolderPath(kCsidlMyPictures), "");
}

}  // namespace
}  // namespace korbu::platform
