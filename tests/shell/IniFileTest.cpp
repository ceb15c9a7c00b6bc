#include "platform/IniFile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <filesystem>

#include "ShellFixture.h"
#include "services/ShellUtils.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::FakePrefix;
using test::ReadFileBytes;
using test::TempTree;

std::string Set(std::string_view content, std::string_view section, std::string_view key, std::string_view value) {
  return WithIniEntry(content, section, key, value).value_or("<refused>");
}

TEST(IniEntry, ExistingKeyIsReplacedAndEverythingElseKept) {
  const std::string before =
      "; worm was here\r\n"
      "[drivers]\r\n"
      "wave=mmdrv.dll\r\n"
      "\r\n"
      "[Boot]  \r\n"
      "  SHELL = Explorer.exe C:\\worm.exe\r\n"
      "shell=second\r\n"
      "other = kept   \r\n";
  EXPECT_EQ(Set(before, "boot", "shell", "Explorer.exe"),
            "; worm was here\r\n"
            "[drivers]\r\n"
            "wave=mmdrv.dll\r\n"
            "\r\n"
            "[Boot]  \r\n"
            "  SHELL=Explorer.exe\r\n"
            "shell=second\r\n"
            "other = kept   \r\n");
}

TEST(IniEntry, MissingKeyJoinsItsSectionBeforeTheGap) {
  const std::string before = "[boot]\nuser.exe=user.exe\n\n[386Enh]\nwoafont=dosapp.fon\n";
  EXPECT_EQ(Set(before, "BOOT", "shell", "Explorer.exe"),
            "[boot]\nuser.exe=user.exe\nshell=Explorer.exe\n\n[386Enh]\nwoafont=dosapp.fon\n");
  // Keys only count inside their own section.
  EXPECT_EQ(Set("[a]\nshell=x\n[boot]\n", "boot", "shell", "y"), "[a]\nshell=x\n[boot]\nshell=y\n");
  // A last line without a break gets one first.
  EXPECT_EQ(Set("[boot]\r\nx=1", "boot", "shell", "y"), "[boot]\r\nx=1\r\nshell=y\r\n");
}

TEST(IniEntry, MissingSectionIsAppended) {
  EXPECT_EQ(Set("", "boot", "shell", "Explorer.exe"), "[boot]\r\nshell=Explorer.exe\r\n");
  EXPECT_EQ(Set("[x]\na=1", "boot", "shell", "e"), "[x]\na=1\n[boot]\nshell=e\n");
  // A comment that looks like the key, or a header without its bracket, is no match.
  EXPECT_EQ(Set(";[boot]\n[boot\n", "boot", "shell", "e"), ";[boot]\n[boot\n[boot]\nshell=e\n");
}

TEST(IniEntry, ByteOrderMarkIsNotPartOfTheFirstSection) {
  EXPECT_EQ(Set("\xEF\xBB\xBF[boot]\r\nshell=w.exe\r\n", "boot", "shell", "Explorer.exe"),
            "\xEF\xBB\xBF[boot]\r\nshell=Explorer.exe\r\n");
}

TEST(IniEntry, RefusesWhatWouldBreakTheFile) {
  EXPECT_EQ(Set("", "boot", "shell", "a\r\n[evil]"), "<refused>");
  EXPECT_EQ(Set("", "boot", "shell", std::string("a\0b", 3)), "<refused>");
  EXPECT_EQ(Set("", "bo]ot", "shell", "x"), "<refused>");
  EXPECT_EQ(Set("", "boot", "sh=ell", "x"), "<refused>");
  EXPECT_EQ(Set("", " ", "shell", "x"), "<refused>");
  EXPECT_EQ(Set("", "boot", "", "x"), "<refused>");
  EXPECT_EQ(Set("", " boot ", " shell ", ""), "[boot]\r\nshell=\r\n");
}

TEST(IniFile, WritesRegularFilesOnly) {
  TempTree tree;
  const std::string path = tree.Write("system.ini", "[boot]\nshell=worm.exe\n");
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(WriteIniString(path, "boot", "shell", "Explorer.exe"));
  EXPECT_EQ(ReadFileBytes(path), "[boot]\nshell=Explorer.exe\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

  const std::string fresh = tree.Path("new.ini");
  ASSERT_TRUE(WriteIniString(fresh, "boot", "shell", "Explorer.exe"));
  EXPECT_EQ(ReadFileBytes(fresh), "[boot]\r\nshell=Explorer.exe\r\n");

  const std::string target = tree.Write("target.ini", "[boot]\n");
  fs::create_symlink(target, tree.Path("link.ini"));
  EXPECT_FALSE(WriteIniString(tree.Path("link.ini"), "boot", "shell", "x"));
  EXPECT_EQ(ReadFileBytes(target), "[boot]\n");
  EXPECT_FALSE(WriteIniString(tree.MakeDir("folder.ini"), "boot", "shell", "x"));
  EXPECT_FALSE(WriteIniString(tree.Path("no/such/folder.ini"), "boot", "shell", "x"));
}

TEST(IniFile, BareNamesLiveInTheWindowsFolder) {
  FakePrefix prefix;
  const auto ini = prefix.WriteC("windows/SYSTEM.INI", "[boot]\r\nshell=Explorer.exe sys.exe\r\n");
  ASSERT_TRUE(korbu::WriteIniValue("boot", "shell", "Explorer.exe", "system.ini"));
  EXPECT_EQ(ReadFileBytes(ini), "[boot]\r\nshell=Explorer.exe\r\n");
  ASSERT_TRUE(korbu::WriteIniValue("boot", "shell", "x", "win.ini"));
  EXPECT_EQ(ReadFileBytes(prefix.DriveC("windows/win.ini")), "[boot]\r\nshell=x\r\n");
}

}  // namespace
}  // namespace korbu::platform
