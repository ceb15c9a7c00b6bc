// A disk that fills up while an INI file or a Wine registry file is rewritten:
// every write reports failure, the old file stays whole, no temporary file is left behind to
// hold the space, and once there is room again the same write goes through.

#include <gtest/gtest.h>

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "RobustSupport.h"
#include "platform/IniFile.h"
#include "platform/Registry.h"
#include "services/MiniReg.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST(DiskFull, IniFileSurvivesWholeWhenTheNewOneCannotBeWritten) {
  test::TempTree tree;
  test::FillableDisk disk(tree);
  const std::string ini = disk.Folder() + "/system.ini";
  const std::string original = "[boot]\r\nshell=Explorer.exe\r\n";
  test::WriteFileBytes(ini, original);
  disk.Fill(disk.Mounted() ? 0 : original.size() + 64);
  EXPECT_FALSE(platform::WriteIniString(ini, "boot", "shell", std::string(8192, 'x')));
  EXPECT_EQ(ReadFileBytes(ini), original);
  disk.Free();
  EXPECT_TRUE(platform::WriteIniString(ini, "boot", "shell", std::string(8192, 'x')));
}

class RegistryOnFullDisk : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string prefix = disk_.Folder();
    fs::create_directories(prefix + "/drive_c/windows/system32");
    test::WriteFileBytes(prefix + "/user.reg",
                         "WINE REGISTRY Version 2\n;; All keys relative to \\\\User\\\\S-1-5-21\n\n#arch=win32\n");
    test::WriteFileBytes(prefix + "/system.reg",
                         "WINE REGISTRY Version 2\n;; All keys relative to \\\\Machine\n\n#arch=win32\n\n"
                         "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n"
                         "#time=1d9e0000000000\n\"Tray\"=\"C:\\\\windows\\\\tray.exe\"\n");
    env_.emplace("WINEPREFIX", prefix);
  }

  std::string SystemReg() const { return disk_.Folder() + "/system.reg"; }

  // Files beside the registry files that a failed write left over.
  std::vector<std::string> Leftovers() const {
    std::vector<std::string> names;
    for (const auto& entry : fs::directory_iterator(disk_.Folder())) {
      const std::string name = entry.path().filename().string();
      const bool temporary = name.rfind(".system.reg.", 0) == 0 || name.rfind(".user.reg.", 0) == 0;
      if (temporary && name.size() > 4 && name.substr(name.size() - 5) != ".lock") names.push_back(name);
    }
    return names;
  }

  test::TempTree tree_;
  test::FillableDisk disk_{tree_};
  std::optional<test::ScopedEnvironment> env_;
};

TEST_F(RegistryOnFullDisk, WritesFailAndTheOldFileSurvivesWhole) {
  auto key = platform::DefaultWindowsSystem()->OpenKey(platform::kHkeyLocalMachine, kRunKey, platform::KeyAccess::ReadWrite);
  if (!key) GTEST_SKIP() << "the handwritten prefix is not taken for a Wine prefix here";
  const std::string original = ReadFileBytes(SystemReg());
  const std::string big(8192, 'x');

  disk_.Fill(disk_.Mounted() ? 0 : original.size() + 64);
  EXPECT_FALSE(key->SetValue("Big", platform::kRegSz, big + '\0'));
  EXPECT_FALSE(WriteRegString(*platform::DefaultWindowsSystem(), platform::kHkeyLocalMachine, std::string(kRunKey) + "\\Big", big));
  if (disk_.Mounted()) {
    // Even a smaller file needs room of its own before it can replace the old one.
    EXPECT_FALSE(key->DeleteValue("Tray"));
  }
  EXPECT_EQ(ReadFileBytes(SystemReg()), original);
  EXPECT_TRUE(Leftovers().empty()) << Leftovers().front();
  std::string tray;
  EXPECT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), platform::kHkeyLocalMachine, std::string(kRunKey) + "\\Tray", tray));
  EXPECT_EQ(tray, "C:\\windows\\tray.exe");

  // With room again the very same write succeeds: the failure was the disk's.
  disk_.Free();
  EXPECT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), platform::kHkeyLocalMachine, std::string(kRunKey) + "\\Big", big));
  std::string back;
  EXPECT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), platform::kHkeyLocalMachine, std::string(kRunKey) + "\\Big", back));
  EXPECT_EQ(back, big);
  EXPECT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), platform::kHkeyLocalMachine, std::string(kRunKey) + "\\Tray", tray));
}

}  // namespace
}  // namespace korbu
