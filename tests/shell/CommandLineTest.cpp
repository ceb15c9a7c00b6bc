#include "services/CommandLine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "ShellFixture.h"
#include "platform/FileSystem.h"
#include "services/ShellUtils.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::FakePrefix;
using test::ScopedEnv;
using test::TempTree;

// Runs in another current directory and comes back.
struct ScopedCurrentDirectory {
  explicit ScopedCurrentDirectory(const std::string& folder) { fs::current_path(folder); }
  ~ScopedCurrentDirectory() { fs::current_path(old); }
  fs::path old = fs::current_path();
};

TEST(CommandLineText, CleanFileNameAndItsHelpers) {
  EXPECT_EQ(StripChar('"', "\"C:\\a b\\x.exe\" \"/s\""), "C:\\a b\\x.exe /s");
  EXPECT_EQ(TrimBlanks("  \ta b\t  "), "\ta b\t");  // blanks only
  EXPECT_EQ(CleanFileName("   svchost.exe -k netsvcs"), "svchost.exe");
  EXPECT_EQ(CleanFileName("a|b"), "a");
  EXPECT_EQ(CleanFileName("|ab"), "");
  EXPECT_EQ(CleanFileName("run\tme.exe"), "run");
  EXPECT_EQ(CleanFileName("caf\xE9.exe"), "caf\xE9.exe");  // high bytes are no control characters
  // At most 254 characters, counted after trimming.
  EXPECT_EQ(CleanFileName(std::string(10, ' ') + std::string(300, 'n')), std::string(254, 'n'));
}

TEST(CommandLineText, RemoveAllMatchesRepeatedLeftmostRemoval) {
  EXPECT_EQ(RemoveAll("ab", "xaabby"), "xy");
  EXPECT_EQ(RemoveAll("", "text"), "text");
  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string sub, text;
    for (auto n = 1 + random() % 4; n > 0; --n) sub.push_back(static_cast<char>('a' + random() % 2));
    for (auto n = random() % 40; n > 0; --n) text.push_back(static_cast<char>('a' + random() % 3));
    std::string expected = text;
    for (auto at = expected.find(sub); at != std::string::npos; at = expected.find(sub)) expected.erase(at, sub.size());
    ASSERT_EQ(RemoveAll(sub, text), expected) << sub << " in " << text;
  }
  // A megabyte of nested occurrences from hostile registry data collapses at once.
  EXPECT_EQ(RemoveAll("ab", std::string(500000, 'a') + std::string(500000, 'b')), "");
}

TEST(CommandLineText, CutArgumentsAndDriveLetters) {
  EXPECT_EQ(CutArguments("rundll32.exe shell32.dll,Control_RunDLL"), "rundll32.exe");
  EXPECT_EQ(CutArguments("notepad.exe"), "notepad.exe");
  EXPECT_EQ(CutArguments("cmd /c start"), "cmd");
  EXPECT_TRUE(HasDriveLetter("c:"));
  EXPECT_FALSE(HasDriveLetter("C"));
  EXPECT_FALSE(HasDriveLetter(""));
}

#ifndef _WIN32  // command lines resolved in a handwritten Wine prefix
TEST(CommandLinePath, FullPathsKeepTheirFolderAndLoseTheirArguments) {
  FakePrefix prefix;
  const auto tool = prefix.WriteC("Program Files/Tool/Tool.EXE");
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "\"C:\\Program Files\\Tool\\tool.exe\" /background"), tool);
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "C:\\PROGRAM FILES\\tool\\TOOL.exe -k netsvcs"), tool);
  // A folder part that reaches into the arguments names a missing file.
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "C:\\Program Files\\Tool\\tool.exe /log:C:\\tmp\\l.txt"),
            prefix.DriveC("Program Files/Tool/tool.exe /log:C:/tmp/l.txt"));
}

TEST(CommandLinePath, BareProgramsAreFoundInTheSystemFolders) {
  FakePrefix prefix;
  const auto rundll = prefix.WriteC("windows/system32/rundll32.exe");
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "rundll32.exe shell32.dll,Control_RunDLL"), rundll);
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "\"RUNDLL32.EXE\" shell32.dll"), rundll);
  EXPECT_EQ(LocateInSystemDirs(*platform::DefaultWindowsSystem(), "regedit.exe"), prefix.DriveC("windows/system32/regedit.exe"));  // not yet there
  const auto regedit = prefix.WriteC("windows/regedit.exe");
  EXPECT_EQ(LocateInSystemDirs(*platform::DefaultWindowsSystem(), "regedit.exe"), regedit);
  // The current directory of a Windows program (its system folder) comes first.
  prefix.WriteC("windows/twin.exe");
  EXPECT_EQ(LocateInSystemDirs(*platform::DefaultWindowsSystem(), "twin.exe"), prefix.WriteC("windows/system32/twin.exe"));
}

TEST(CommandLinePath, NothingIsLookedForOnTheLinuxSide) {
  TempTree tree;
  tree.Write("ghost.exe", "MZ");
  ScopedCurrentDirectory cwd(tree.Path());
  {
    FakePrefix prefix;
    EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "ghost.exe /q"), prefix.DriveC("windows/system32/ghost.exe"));
    EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), ""), "");
  }
  tree.Write("home/.wine/drive_c/windows/system32/ghost.exe", "MZ");  // no registry files: no prefix
  ScopedEnv noPrefix("WINEPREFIX", std::nullopt);
  ScopedEnv home("HOME", tree.Path("home"));
  EXPECT_EQ(GetWindowsDir(*platform::DefaultWindowsSystem()), "");
  EXPECT_EQ(GetSystemDir(*platform::DefaultWindowsSystem()), "");
  EXPECT_EQ(GetSpecialFolderPath(*platform::DefaultWindowsSystem(), 28), "");
  EXPECT_EQ(LocateInSystemDirs(*platform::DefaultWindowsSystem(), "ghost.exe"), "");
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "ghost.exe"), "");
  EXPECT_EQ(CommandLineToFilePath(*platform::DefaultWindowsSystem(), "C:\\windows\\system32\\ghost.exe"), "");
  EXPECT_FALSE(WriteIniValue(*platform::DefaultWindowsSystem(), "boot", "shell", "Explorer.exe", "system.ini"));
  EXPECT_FALSE(fs::exists(tree.Path("system.ini")));
}
#endif

}  // namespace
}  // namespace korbu
