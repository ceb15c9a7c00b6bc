#include "platform/IniFile.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "ShellFixture.h"
#include "platform/SystemFactory.h"
#include "services/ShellUtils.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;

std::string Set(std::string_view content, std::string_view section, std::string_view key, std::string_view value) {
  return WithIniEntry(content, section, key, value).value_or("<refused>");
}

TEST(IniEntry, ExistingKeyIsReplacedAndEverythingElseKept) {
  EXPECT_EQ(Set("\xEF\xBB\xBF; worm\r\n[drivers]\r\nshell=no\r\n\r\n[Boot]  \r\n  SHELL = Explorer.exe w.exe\r\n"
                "shell=second\r\nother = kept   \r\n",
                "boot", "shell", "Explorer.exe"),
            "\xEF\xBB\xBF; worm\r\n[drivers]\r\nshell=no\r\n\r\n[Boot]  \r\n  SHELL=Explorer.exe\r\n"
            "shell=second\r\nother = kept   \r\n");
}

TEST(IniEntry, MissingKeyOrSectionIsAdded) {
  EXPECT_EQ(Set("[boot]\nuser.exe=user.exe\n\n[386Enh]\n", "BOOT", "shell", "e"),
            "[boot]\nuser.exe=user.exe\nshell=e\n\n[386Enh]\n");
  EXPECT_EQ(Set("[boot]\r\nx=1", "boot", "shell", "e"), "[boot]\r\nx=1\r\nshell=e\r\n");
  EXPECT_EQ(Set("", "boot", "shell", "e"), "[boot]\r\nshell=e\r\n");
  // A lone '\r' at the end is completed to a line break, not doubled, so the key
  // before it is found by the next write.
  EXPECT_EQ(Set("[boot]\nx=1\r", "boot", "shell", "e"), "[boot]\nx=1\r\nshell=e\n");
  EXPECT_EQ(Set("[boot]\nshell\r", "boot", "shell", "e"), "[boot]\nshell=e\r");
  EXPECT_EQ(Set("[a]\r", "boot", "shell", "e"), "[a]\r\n[boot]\r\nshell=e\r\n");
  // Neither a comment nor a header without its bracket is the section.
  EXPECT_EQ(Set(";[boot]\nshell=x\n[boot\n", "boot", "shell", "e"), ";[boot]\nshell=x\n[boot\n[boot]\nshell=e\n");
}

TEST(IniEntry, TheReaderFindsWhatTheWriterWouldRewrite) {
  // A byte order mark, a ']' inside the section's name, line ends of either kind.
  const std::string text = "\xEF\xBB\xBF[boot]\r\nshell = Explorer.exe csrss.exe \r\n[a]b]\nk=1\n[boot]\nshell=second\n";
  EXPECT_EQ(IniValue(text, "BOOT", "Shell"), "Explorer.exe csrss.exe");
  EXPECT_EQ(IniValue(text, "a]b", "k"), "1");
  EXPECT_EQ(IniValue("[boot]\nshell\n", "boot", "shell"), "");
  EXPECT_EQ(IniValue(text, "boot", "missing"), std::nullopt);
  const std::string written = Set(text, "boot", "shell", "Explorer.exe");
  EXPECT_EQ(IniValue(written, "boot", "shell"), "Explorer.exe");
  EXPECT_EQ(IniValue(written, "a]b", "k"), "1");
}

TEST(IniEntry, RefusesWhatWouldBreakTheFile) {
  for (auto [section, key, value] : {std::tuple{"boot", "shell", "a\r\n[evil]"}, {"bo]ot", "shell", "x"},
                                     {"boot", "sh=ell", "x"}, {" ", "shell", "x"}, {"boot", "", "x"},
                                     {"boot", "[evil]", "x"}, {"boot", " \t[a", "b]"}}) {
    EXPECT_EQ(Set("", section, key, value), "<refused>") << section << "/" << key << "/" << value;
  }
  EXPECT_EQ(Set("", "boot", "shell", std::string("a\0b", 3)), "<refused>");
  // A key line "[a=b]" would read as the header of a section "a=b".
  EXPECT_EQ(Set("[boot]\nshell=x\n", "boot", "[a", "b]"), "<refused>");
  EXPECT_EQ(Set("[boot]\nshell=x\n", "boot", "a[b", "c]"), "[boot]\nshell=x\na[b=c]\n");

  test::TempTree tree;
  const std::string path = tree.Write("system.ini", "[boot]\nshell=x\n");
  EXPECT_FALSE(WriteIniString(path, "boot", "[shell]", "y"));
  EXPECT_EQ(ReadFileBytes(path), "[boot]\nshell=x\n");
}

TEST(IniFile, WritesRegularFilesOnly) {
  test::TempTree tree;
  const std::string path = tree.Write("system.ini", "[boot]\nshell=worm.exe\n");
  fs::permissions(path, fs::perms(0640));
  ASSERT_TRUE(WriteIniString(path, "boot", "shell", "Explorer.exe"));
  EXPECT_EQ(ReadFileBytes(path), "[boot]\nshell=Explorer.exe\n");
  EXPECT_EQ(fs::status(path).permissions(), fs::perms(0640));

  fs::create_symlink(path, tree.Path("link.ini"));
  EXPECT_FALSE(WriteIniString(tree.Path("link.ini"), "boot", "shell", "x"));
  EXPECT_FALSE(WriteIniString(tree.MakeDir("folder.ini"), "boot", "shell", "x"));
  EXPECT_EQ(ReadFileBytes(path), "[boot]\nshell=Explorer.exe\n");
}

TEST(IniFile, BareNamesLiveInTheWindowsFolder) {
  test::FakePrefix prefix;
  const auto ini = prefix.WriteC("windows/SYSTEM.INI", "[boot]\r\nshell=Explorer.exe sys.exe\r\n");
  ASSERT_TRUE(korbu::WriteIniValue(*DefaultWindowsSystem(), "boot", "shell", "Explorer.exe", "system.ini"));
  EXPECT_EQ(ReadFileBytes(ini), "[boot]\r\nshell=Explorer.exe\r\n");
  ASSERT_TRUE(korbu::WriteIniValue(*DefaultWindowsSystem(), "boot", "shell", "x", "win.ini"));
  EXPECT_EQ(ReadFileBytes(prefix.DriveC("windows/win.ini")), "[boot]\r\nshell=x\r\n");
}

}  // namespace
}  // namespace korbu::platform
