// Files and registry data that change, vanish or cannot be written while the
// scanner works on them: every call reports the failure and leaves data whole.

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/Registry.h"
#include "scan/FileVerdict.h"
#include "support/TempTree.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {

using test::ReadFileBytes;
using test::TempTree;

class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) ::setenv(name_, old_->c_str(), 1); else ::unsetenv(name_);
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(FileChangesDuringScan, VanishedOrTruncatedFileGetsNoVerdict) {
  TempTree tree;
  const std::string path = tree.Write("gone.exe", std::string("MZ") + std::string(4096, 'x'));
  std::filesystem::remove(path);
  std::string verdict = "stale";
  EXPECT_FALSE(ScanFile(path, verdict, nullptr, true));
  EXPECT_EQ(verdict, "");

  // Cut to nothing, then to a lone header byte.
  for (const char* bytes : {"", "M"}) {
    tree.Write("cut.exe", bytes);
    verdict = "stale";
    EXPECT_FALSE(ScanFile(tree.Path("cut.exe"), verdict, nullptr, true)) << bytes;
    EXPECT_EQ(verdict, "");
  }
  // A folder where the file was.
  tree.MakeDir("now-a-folder.exe");
  verdict = "stale";
  EXPECT_FALSE(ScanFile(tree.Path("now-a-folder.exe"), verdict, nullptr, true));
}

class WinePrefixFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    tree_.MakeDir("drive_c/windows/system32");
    tree_.Write("user.reg", "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n#arch=win32\n");
    tree_.Write("system.reg", std::string(kSystem));
    env_.emplace("WINEPREFIX", tree_.Path());
  }
  static constexpr const char* kSystem =
      "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
      "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n"
      "#time=1d9e0000000000\n\"Tray\"=\"C:\\\\windows\\\\tray.exe\"\n";
  TempTree tree_;
  std::optional<ScopedEnv> env_;
};

TEST_F(WinePrefixFixture, WriteKeepsAnotherWritersChangeMadeSinceTheKeyWasOpened) {
  auto key = platform::DefaultWindowsSystem()->OpenKey(platform::kHkeyLocalMachine,
                                         "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                         platform::KeyAccess::ReadWrite);
  if (!key) GTEST_SKIP() << "the handwritten prefix is not taken for a Wine prefix here";
  ASSERT_TRUE(key->QueryValue("Tray"));
  // Another program adds a value after this one read the key.
  std::string changed = ReadFileBytes(tree_.Path("system.reg"));
  changed += "\"Other\"=\"C:\\\\other.exe\"\n";
  test::WriteFileBytes(tree_.Path("system.reg"), changed);

  ASSERT_TRUE(key->DeleteValue("Tray"));
  auto other = key->QueryValue("Other");
  ASSERT_TRUE(other);
  EXPECT_EQ(platform::RegistryText(other->data), "C:\\other.exe");
  EXPECT_FALSE(key->QueryValue("Tray"));
}

TEST_F(WinePrefixFixture, VanishedRegistryFileFailsTheWrite) {
  auto key = platform::DefaultWindowsSystem()->OpenKey(platform::kHkeyLocalMachine,
                                         "Software\\Microsoft\\Windows\\CurrentVersion\\Run",
                                         platform::KeyAccess::ReadWrite);
  if (!key) GTEST_SKIP() << "the handwritten prefix is not taken for a Wine prefix here";
  std::filesystem::remove(tree_.Path("system.reg"));
  EXPECT_FALSE(key->SetValue("New", platform::kRegSz, std::string("x") + '\0'));
  EXPECT_FALSE(key->QueryValue("Tray"));
}

}  // namespace
}  // namespace korbu
