// MiniReg over a hand-made Wine prefix.

#include "services/MiniReg.h"

#include <gtest/gtest.h>

#include "RegistryTestPrefix.h"
#include "platform/Utf16Text.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
using platform::kHkeyClassesRoot;
using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;
using test::TestPrefix;

constexpr const char* kRunAlpha = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Alpha";

TEST(MiniReg, LastCharPosIsOneBased) {
  EXPECT_EQ(LastCharPos('\\', "a\\b\\c"), 4u);
  EXPECT_EQ(LastCharPos('\\', "\\"), 1u);
  EXPECT_EQ(LastCharPos('\\', "abc"), 0u);
  EXPECT_EQ(LastCharPos('\\', ""), 0u);
}

TEST(MiniReg, APathWithoutBackslashTouchesNothing) {
  TestPrefix prefix;
  const std::string before = prefix.SystemText();
  std::string text = "stale";
  std::vector<unsigned char> block = {1, 2, 3};
  const std::uint32_t zero = 0;
  EXPECT_FALSE(WriteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Alpha", platform::kRegDword, &zero, 4));
  EXPECT_FALSE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Alpha", "x"));
  EXPECT_FALSE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Alpha", 1));
  EXPECT_FALSE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Alpha", platform::kRegSz, block));
  EXPECT_TRUE(block.empty());
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Alpha", text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Alpha"));
  EXPECT_FALSE(WriteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\x", platform::kRegBinary, nullptr, 3));
  EXPECT_EQ(prefix.SystemText(), before);
}

TEST(MiniReg, StringsAreWrittenWithOneZeroAndReadWithout) {
  TestPrefix prefix;
  std::string text;
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kRunAlpha, text));
  EXPECT_EQ(text, "C:\\windows\\alpha.exe");

  // A path ending in a backslash is the default value; its key is made on the way.
  ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Korbu\\New\\", "C:\\x y\\z.exe"));
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "software\\korbu\\new\\", text));
  EXPECT_EQ(text, "C:\\x y\\z.exe");
  EXPECT_NE(prefix.SystemText().find("[Software\\\\Korbu\\\\New] "), std::string::npos);
  std::vector<unsigned char> block;
  ASSERT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Korbu\\New\\", platform::kRegSz, block));
  EXPECT_EQ(block.size(), 26u);  // twelve wide characters and a zero one
  EXPECT_EQ(block[24], 0);
  EXPECT_EQ(block[25], 0);

  // The root key itself, through a path whose only backslash comes first.
  ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "\\AtRoot", "r"));
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "\\atroot", text));
  EXPECT_EQ(text, "r");
  EXPECT_EQ(prefix.UserText().find("[]"), prefix.UserText().find("\n[") + 1);

  // Empty text: the value holds just its zero.
  ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyClassesRoot, "exefile\\shell\\open\\command\\", ""));
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyClassesRoot, "exefile\\shell\\open\\command\\", text));
  EXPECT_EQ(text, "");
}

TEST(MiniReg, ReadingAStringNeedsAPlainString) {
  TestPrefix prefix;
  std::string text = "stale";
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\Expand", text));
  EXPECT_TRUE(text.empty());
  text = "stale";
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\Dword", text));
  EXPECT_TRUE(text.empty());
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\Missing", text));
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Nowhere\\Alpha", text));
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Nowhere\\", text));
  std::vector<unsigned char> block;
  EXPECT_FALSE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\Dword", platform::kRegBinary, block));
  EXPECT_TRUE(block.empty());
  ASSERT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\Dword", platform::kRegDword, block));
  EXPECT_EQ(block, (std::vector<unsigned char>{0x2a, 0, 0, 0}));
  // Reading never makes a key.
  EXPECT_EQ(prefix.SystemText(), test::kSampleSystemReg);
}

TEST(MiniReg, AStringIsReadUpToItsFirstZeroUnit) {
  TestPrefix prefix;
  const std::string bare = platform::Utf16LeBytes(u"C:\\a.exe");
  ASSERT_TRUE(WriteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Bare\\Path", platform::kRegSz, bare.data(), bare.size()));
  std::string text;
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Bare\\Path", text));
  EXPECT_EQ(text, "C:\\a.exe");  // no zero: the whole text
  // What a program starting the value would run: up to the first zero unit, an
  // odd last byte left out.
  const std::string hidden = platform::RegistryStringData("C:\\shown.exe") + platform::Utf16LeBytes(u"hidden") + "x";
  ASSERT_TRUE(WriteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Bare\\Two", platform::kRegSz, hidden.data(), hidden.size()));
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Bare\\Two", text));
  EXPECT_EQ(text, "C:\\shown.exe");
  ASSERT_TRUE(WriteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Bare\\None", platform::kRegSz, nullptr, 0));
  text = "stale";
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Bare\\None", text));
  EXPECT_EQ(text, "");
}

TEST(MiniReg, DeletingRemovesOneValueOnly) {
  TestPrefix prefix;
  EXPECT_FALSE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Missing"));
  EXPECT_FALSE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Nowhere\\Alpha"));
  EXPECT_EQ(prefix.SystemText(), test::kSampleSystemReg);

  // The default value goes; the key and its named values stay.
  ASSERT_TRUE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\"));
  std::string text;
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\", text));
  std::vector<unsigned char> block;
  EXPECT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\Dword", platform::kRegDword, block));
  EXPECT_FALSE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, "Software\\Wine\\Types\\"));

  ASSERT_TRUE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "software\\microsoft\\windows\\currentversion\\run\\WORM"));
  EXPECT_NE(prefix.UserText().find("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run]"), std::string::npos);
  EXPECT_EQ(prefix.UserText().find("Worm"), std::string::npos);
}

TEST(MiniReg, ADwordReplacesAValueOfAnotherType) {
  TestPrefix prefix;
  ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kRunAlpha, 0));
  std::vector<unsigned char> block;
  ASSERT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kRunAlpha, platform::kRegDword, block));
  EXPECT_EQ(block, (std::vector<unsigned char>{0, 0, 0, 0}));
  EXPECT_NE(prefix.SystemText().find("\"Alpha\"=dword:00000000\n"), std::string::npos);
  ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kRunAlpha, 0x01020304));
  ASSERT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kRunAlpha, platform::kRegDword, block));
  EXPECT_EQ(block, (std::vector<unsigned char>{4, 3, 2, 1}));
  std::string text;
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kRunAlpha, text));
}

}  // namespace
}  // namespace korbu
