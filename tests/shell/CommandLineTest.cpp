#include "services/CommandLine.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <random>

#include "ShellFixture.h"
#include "platform/FileSystem.h"
#include "services/ShellUtils.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::FakePrefix;
using test::ScopedEnv;
using test::TempTree;

// Removal of the leftmost occurrence until there is none, as the rule is worded.
std::string RemoveAllByRepeatedSearch(const std::string& sub, std::string text) {
  if (sub.empty()) return text;
  for (auto at = text.find(sub); at != std::string::npos; at = text.find(sub)) text.erase(at, sub.size());
  return text;
}

// Runs in another current directory and comes back.
class ScopedCurrentDirectory {
 public:
  explicit ScopedCurrentDirectory(const std::string& folder) : old_(fs::current_path()) {
    fs::current_path(folder);
  }
  ~ScopedCurrentDirectory() { fs::current_path(old_); }

 private:
  fs::path old_;
};

TEST(CommandLineText, StripAndTrim) {
  EXPECT_EQ(StripChar('"', "\"C:\\a b\\x.exe\" \"/s\""), "C:\\a b\\x.exe /s");
  EXPECT_EQ(StripChar('"', "\"\"\""), "");
  EXPECT_EQ(TrimBlanks("   a\t b  "), "a\t b");
  EXPECT_EQ(TrimBlanks("\tx\t"), "\tx\t");  // only blanks go
  EXPECT_EQ(TrimBlanks("    "), "");
}

TEST(CommandLineText, CleanFileNameCutsAtTheFirstForbiddenCharacter) {
  EXPECT_EQ(CleanFileName("   svchost.exe -k netsvcs"), "svchost.exe");
  EXPECT_EQ(CleanFileName("a|b"), "a");
  EXPECT_EQ(CleanFileName("|ab"), "");
  EXPECT_EQ(CleanFileName("x.exe,Control_RunDLL"), "x.exe");
  EXPECT_EQ(CleanFileName("run\tme.exe"), "run");
  EXPECT_EQ(CleanFileName(std::string("a\0b", 3)), "a");
  EXPECT_EQ(CleanFileName("caf\xE9.exe"), "caf\xE9.exe");  // high bytes are no control characters
  EXPECT_EQ(CleanFileName(std::string(300, 'n')), std::string(254, 'n'));
  // The length is cut after trimming, so leading blanks do not use it up.
  EXPECT_EQ(CleanFileName(std::string(10, ' ') + std::string(254, 'n') + "|"), std::string(254, 'n'));
}

TEST(CommandLineText, RemoveAllAlsoRemovesOccurrencesMadeByARemoval) {
  EXPECT_EQ(RemoveAll("ab", "aabb"), "");
  EXPECT_EQ(RemoveAll("ab", "xaabby"), "xy");
  EXPECT_EQ(RemoveAll("aba", "ababa"), "ba");  // leftmost first
  EXPECT_EQ(RemoveAll("", "text"), "text");
  EXPECT_EQ(RemoveAll("long", "lo"), "lo");

  std::mt19937 random(20240611);
  for (int round = 0; round < 3000; ++round) {
    std::string sub, text;
    const int subLength = 1 + static_cast<int>(random() % 4);
    const int textLength = static_cast<int>(random() % 40);
    for (int i = 0; i < subLength; ++i) sub.push_back(static_cast<char>('a' + random() % 2));
    for (int i = 0; i < textLength; ++i) text.push_back(static_cast<char>('a' + random() % 3));
    ASSERT_EQ(RemoveAll(sub, text), RemoveAllByRepeatedSearch(sub, text)) << sub << " in " << text;
  }
}

TEST(CommandLineText, RemoveAllHandlesHostileLengths) {
  // A megabyte of nested occurrences collapses completely; a quadratic removal
  // would take minutes here.
  const std::string text = std::string(500000, 'a') + std::string(500000, 'b');
  EXPECT_EQ(RemoveAll("ab", text), "");
}

TEST(CommandLineText, CutArgumentsAndDriveLetters) {
  EXPECT_EQ(CutArguments("rundll32.exe shell32.dll,Control_RunDLL"), "rundll32.exe");
  EXPECT_EQ(CutArguments("notepad.exe"), "notepad.exe");
  EXPECT_EQ(CutArguments("cmd /c start"), "cmd");
  EXPECT_EQ(CutArguments("a.b.c d"), "a.b.c");
  EXPECT_EQ(CutArguments(""), "");

  EXPECT_TRUE(HasDriveLetter("C:"));
  EXPECT_TRUE(HasDriveLetter("c:\\x"));
  EXPECT_FALSE(HasDriveLetter("C"));
  EXPECT_FALSE(HasDriveLetter(""));
  EXPECT_FALSE(HasDriveLetter("ab:"));
}

TEST(CommandLinePath, QuotedFullPathWithSwitchGivesTheProgram) {
  FakePrefix prefix;
  const auto tool = prefix.WriteC("Program Files/Tool/Tool.EXE");
  EXPECT_EQ(CommandLineToFilePath("\"C:\\Program Files\\Tool\\tool.exe\" /background"), tool);
  EXPECT_EQ(CommandLineToFilePath("C:\\PROGRAM FILES\\tool\\TOOL.exe -k netsvcs"), tool);
  // A folder part that reaches into the arguments still maps, to a missing file.
  const auto odd = CommandLineToFilePath("C:\\Program Files\\Tool\\tool.exe /log:C:\\tmp\\log.txt");
  EXPECT_EQ(odd, prefix.DriveC("Program Files/Tool/tool.exe /log:C:/tmp/log.txt"));
  EXPECT_FALSE(platform::FileExists(odd));
}

TEST(CommandLinePath, ProgramWithoutFolderIsFoundInTheSystemFolders) {
  FakePrefix prefix;
  const auto rundll = prefix.WriteC("windows/system32/rundll32.exe");
  EXPECT_EQ(CommandLineToFilePath("rundll32.exe shell32.dll,Control_RunDLL"), rundll);
  EXPECT_EQ(CommandLineToFilePath("\"RUNDLL32.EXE\" shell32.dll"), rundll);

  const auto regedit = prefix.WriteC("windows/regedit.exe");
  EXPECT_EQ(LocateInSystemDirs("regedit.exe"), regedit);

  // The current directory of a Windows program (the system folder) comes first,
  // even when the Windows folder has a file of the same name.
  prefix.WriteC("windows/twin.exe");
  const auto twinInSystem = prefix.WriteC("windows/system32/twin.exe");
  EXPECT_EQ(LocateInSystemDirs("twin.exe"), twinInSystem);
}

TEST(CommandLinePath, MissingProgramIsNeverLookedForOnTheLinuxSide) {
  FakePrefix prefix;
  TempTree elsewhere;
  elsewhere.Write("ghost.exe", "MZ");
  ScopedCurrentDirectory cwd(elsewhere.Path());

  const auto located = LocateInSystemDirs("ghost.exe");
  EXPECT_EQ(located, prefix.DriveC("windows/system32/ghost.exe"));
  EXPECT_FALSE(platform::FileExists(located));
  EXPECT_EQ(CommandLineToFilePath("ghost.exe /q"), located);
  // Unexpanded variables name nothing that exists.
  EXPECT_FALSE(platform::FileExists(CommandLineToFilePath("%SystemRoot%\\system32\\rundll32.exe")));
  EXPECT_EQ(CommandLineToFilePath(""), "");
}

TEST(CommandLinePath, WithoutAPrefixEverythingIsEmpty) {
  TempTree tree;
  tree.Write("home/.wine/drive_c/windows/system32/rundll32.exe", "MZ");  // no registry files
  tree.Write("rundll32.exe", "MZ");
  ScopedEnv noPrefix("WINEPREFIX", std::nullopt);
  ScopedEnv home("HOME", tree.Path("home"));
  ScopedCurrentDirectory cwd(tree.Path());

  EXPECT_EQ(GetWindowsDir(), "");
  EXPECT_EQ(GetSystemDir(), "");
  EXPECT_EQ(GetSpecialFolderPath(28), "");
  EXPECT_EQ(GetPicturesFolder(), "");
  EXPECT_EQ(LocateInSystemDirs("rundll32.exe"), "");
  EXPECT_EQ(CommandLineToFilePath("rundll32.exe shell32.dll,Control_RunDLL"), "");
  EXPECT_EQ(CommandLineToFilePath("C:\\windows\\system32\\rundll32.exe"), "");
  EXPECT_FALSE(WriteIniValue("boot", "shell", "Explorer.exe", "system.ini"));
  EXPECT_FALSE(fs::exists(tree.Path("system.ini")));
}

}  // namespace
}  // namespace korbu
