// The Clean action on this system's own registry and "system.ini" (a fresh Wine
// prefix when run by the Windows test script): the worm family's damage planted
// through the Win32 registry calls, found by the registry scan, undone by the row
// actions, and everything unrelated left as it was.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/WindowsSystem.h"
#include "repair/RowActions.h"
#include "repair/VirusClean.h"
#include "scan/RegistryScan.h"
#include "scan/ScanFrontEnd.h"
#include "scan/ScanTexts.h"
#include "services/MiniReg.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {

using platform::kHkeyCurrentUser;
using platform::kHkeyLocalMachine;

constexpr const char* kAdvanced = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\";
constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
constexpr const char* kSafeBoot = "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\AlternateShell";
constexpr const char* kExeOpen = "Software\\CLASSES\\exefile\\shell\\open\\command\\";
constexpr const char* kScrOpen = "Software\\CLASSES\\scrfile\\shell\\open\\command\\";

// The repair changes the system it runs on: only where the caller says it may.
bool MayDamageThisSystem() {
  const char* allowed = std::getenv("KORBU_WINDOWS_DAMAGE_TESTS");
  return allowed != nullptr && std::string(allowed) == "1";
}

std::optional<std::uint32_t> DWord(RootKey root, const std::string& valuePath) {
  std::vector<unsigned char> block;
  if (!ReadRegValue(*platform::DefaultWindowsSystem(), root, valuePath, platform::kRegDword, block) || block.size() != 4) return std::nullopt;
  return static_cast<std::uint32_t>(block[0] | block[1] << 8 | block[2] << 16 | static_cast<unsigned>(block[3]) << 24);
}

std::optional<std::string> Text(RootKey root, const std::string& valuePath) {
  std::string text;
  if (!ReadRegString(*platform::DefaultWindowsSystem(), root, valuePath, text)) return std::nullopt;
  return text;
}

using ListOnly = test::ListOnlyFrontEnd;

class SystemClean : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!MayDamageThisSystem()) GTEST_SKIP() << "changes this system's registry; set KORBU_WINDOWS_DAMAGE_TESTS=1";
    windows_ = platform::DefaultWindowsSystem()->WindowsDirectoryPath();
    ASSERT_FALSE(windows_.empty());
    worm_ = windows_ + "\\KorbuShellNew\\sempalong.exe";
    test::WriteFileBytes(worm_, test::VariantFile(1));
    ini_ = windows_ + "\\system.ini";
    const auto old = platform::ReadWholeFile(ini_, platform::ShareMode::DenyNone);
    ASSERT_TRUE(old) << "no system.ini in " << windows_;
    iniBefore_ = *old;
  }

  void Plant() {
    // The worm's shell line, inside a [boot] section it shares with a line of its own.
    const std::string damaged = "[boot]\r\nshell=Explorer.exe " + worm_ + "\r\nsystem.drv=system.drv\r\n" + iniBefore_;
    ASSERT_TRUE(platform::ReplaceFileAtomically(ini_, damaged));
    const std::string a = kAdvanced, p = kPolicies, run = kRun;
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, a + "Hidden", 2));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, a + "HideFileExt", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, a + "SuperHidden", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, a + "ShowSuperHidden", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, a + "KorbuUnrelated", 7));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, p + "Explorer\\NoFolderOptions", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, p + "System\\DisableTaskMgr", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, p + "System\\DisableRegistryTools", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, p + "System\\DisableCMD", 1));
    ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, p + "System\\KorbuUnrelated", 1));
    ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kSafeBoot, worm_));
    ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kExeOpen, "\"%1\" %* " + worm_));
    ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyLocalMachine, kScrOpen, worm_ + " \"%1\""));
    ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, run + "Bron-Spizaetus", worm_));
    ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, run + "KorbuKeep", windows_ + "\\notepad.exe"));
  }

  void TearDown() override {
    if (!MayDamageThisSystem()) return;
    // What the clean removed already is not there to remove.
    static_cast<void>(platform::SetFileAttributes(worm_, platform::kAttrNormal));
    static_cast<void>(platform::DeleteFile(worm_));
    static_cast<void>(platform::RemoveDirectory(platform::ExtractFilePath(worm_)));
    DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, std::string(kRun) + "KorbuKeep");
    DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, std::string(kAdvanced) + "KorbuUnrelated");
    DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, std::string(kPolicies) + "System\\KorbuUnrelated");
  }

  std::string windows_;
  std::string worm_;
  std::string ini_;
  std::string iniBefore_;
};

TEST_F(SystemClean, TheCleanActionUndoesTheDamageAndKeepsEverythingElse) {
  Plant();
  if (HasFatalFailure()) return;
  // The damage is in place, read back through the same calls as the checks below.
  ASSERT_EQ(DWord(kHkeyCurrentUser, std::string(kAdvanced) + "Hidden"), 2u);
  ASSERT_EQ(Text(platform::kHkeyClassesRoot, "exefile\\shell\\open\\command\\"), "\"%1\" %* " + worm_);

  // The registry scan lists the Run value and the program it starts.
  ListOnly scan;
  ScanRegistry(scan, ScanContext{}, *platform::DefaultWindowsSystem());
  const std::string location = "HKEY_CURRENT_USER\\" + std::string(kRun) + "Bron-Spizaetus";
  const std::string runKey = std::string(kRun).substr(0, std::string(kRun).size() - 1);
  ASSERT_TRUE(scan.list.IsRegistryDetected({kHkeyCurrentUser, runKey, "Bron-Spizaetus"}, {}));
  EXPECT_FALSE(scan.list.IsRegistryDetected({kHkeyCurrentUser, runKey, "KorbuKeep"}, {}));
  EXPECT_TRUE(scan.list.IsDetected(worm_));
  for (std::size_t i = 0; i < scan.list.Count(); ++i) scan.list.SetChecked(i, true);

  std::vector<RowResult> results;
  CleanRows(scan.list, platform::DefaultWindowsSystem(), ApplyChanges(), [] {}, [&](const RowResult& r) { results.push_back(r); });
  for (std::size_t i = 0; i < scan.list.Count(); ++i) {
    const auto& row = scan.list.Row(i);
    if (row.IsRegistry() ? row.value.valueName == "Bron-Spizaetus" : row.path == worm_) {
      EXPECT_EQ(row.state, RowState::Cleaned) << row.path << row.value.valueName;
    }
  }
  EXPECT_FALSE(platform::FileExists(worm_));

  // Run keys: the worm's value is gone, the other one stays.
  EXPECT_FALSE(Text(kHkeyCurrentUser, location.substr(18)));
  EXPECT_EQ(Text(kHkeyCurrentUser, std::string(kRun) + "KorbuKeep"), windows_ + "\\notepad.exe");

  // system.ini: the shell line alone is set back.
  const auto ini = platform::ReadWholeFile(ini_, platform::ShareMode::DenyNone);
  ASSERT_TRUE(ini);
  EXPECT_EQ(*ini, "[boot]\r\nshell=Explorer.exe\r\nsystem.drv=system.drv\r\n" + iniBefore_);

  // Explorer's display settings and the four policies are 0; unrelated values keep theirs.
  const std::string a = kAdvanced, p = kPolicies;
  for (const char* name : {"Hidden", "HideFileExt", "SuperHidden", "ShowSuperHidden"}) {
    EXPECT_EQ(DWord(kHkeyCurrentUser, a + name), 0u) << name;
  }
  for (const char* name : {"Explorer\\NoFolderOptions", "System\\DisableTaskMgr", "System\\DisableRegistryTools",
                           "System\\DisableCMD"}) {
    EXPECT_EQ(DWord(kHkeyCurrentUser, p + name), 0u) << name;
  }
  EXPECT_EQ(DWord(kHkeyCurrentUser, a + "KorbuUnrelated"), 7u);
  EXPECT_EQ(DWord(kHkeyCurrentUser, p + "System\\KorbuUnrelated"), 1u);

  // The safe-mode shell and the open commands of the program file types.
  EXPECT_EQ(Text(kHkeyLocalMachine, kSafeBoot), "cmd.exe");
  EXPECT_EQ(Text(kHkeyLocalMachine, kExeOpen), "\"%1\" %*");
  EXPECT_EQ(Text(kHkeyLocalMachine, kScrOpen), "\"%1\" /S");
  EXPECT_EQ(Text(kHkeyLocalMachine, "Software\\CLASSES\\regfile\\shell\\open\\command\\"), "regedit.exe \"%1\"");
  // The same keys seen through the classes root, as programs read them.
  EXPECT_EQ(Text(platform::kHkeyClassesRoot, "exefile\\shell\\open\\command\\"), "\"%1\" %*");
}

TEST_F(SystemClean, AMissingFileStillGetsTheSystemRepaired) {
  Plant();
  if (HasFatalFailure()) return;
  const std::string missing = windows_ + "\\KorbuShellNew\\gone.exe";
  EXPECT_FALSE(CleanSystem(*platform::DefaultWindowsSystem(), missing).deleted);
  EXPECT_TRUE(platform::FileExists(worm_));  // only the named file is the detected one
  EXPECT_EQ(DWord(kHkeyCurrentUser, std::string(kPolicies) + "System\\DisableTaskMgr"), 0u);
  EXPECT_EQ(Text(kHkeyLocalMachine, kSafeBoot), "cmd.exe");
  const auto ini = platform::ReadWholeFile(ini_, platform::ShareMode::DenyNone);
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->find(worm_), std::string::npos);
  // CleanSystem leaves Run values to the registry rows.
  EXPECT_EQ(Text(kHkeyCurrentUser, std::string(kRun) + "Bron-Spizaetus"), worm_);
  EXPECT_TRUE(DeleteRegistryDetection(*platform::DefaultWindowsSystem(), "HKEY_CURRENT_USER\\" + std::string(kRun) + "Bron-Spizaetus"));
  EXPECT_FALSE(DeleteRegistryDetection(*platform::DefaultWindowsSystem(), "HKEY_CURRENT_USER\\" + std::string(kRun) + "Bron-Spizaetus"));
}

}  // namespace
}  // namespace korbu
