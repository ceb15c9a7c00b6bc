// A clean against a prefix that Wine itself made, checked with Wine's own reg tool.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "repair/JournalSink.h"
#include "repair/RowActions.h"
#include "repair/Undo.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

std::string Output(const std::string& command) {
  std::string out;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  ::pclose(pipe);
  return out;
}

bool HaveWine() {
  return std::system("{ command -v wine && command -v wineboot && command -v wineserver; } >/dev/null 2>&1") == 0;
}

TEST(WineCleanTest, CleanedSettingsReadBackThroughWine) {
  if (!HaveWine()) GTEST_SKIP() << "Wine is not installed";
  test::TempTree tree;
  const std::string prefix = tree.Path("prefix");
  test::ScopedEnvironment wineprefix("WINEPREFIX", prefix);
  test::ScopedEnvironment debug("WINEDEBUG", std::string("-all"));
  test::ScopedEnvironment data("XDG_DATA_HOME", tree.Path("data"));
  const std::string env = "WINEPREFIX='" + prefix + "' WINEDEBUG=-all ";
  if (std::system((env + "wineboot -i >/dev/null 2>&1; " + env + "wineserver -w").c_str()) != 0 ||
      !fs::exists(prefix + "/user.reg")) {
    GTEST_SKIP() << "wineboot could not make a prefix";
  }
  const std::string policy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr";
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Bron-Spizaetus";
  ASSERT_TRUE(WriteRegDWord(HKEY_CURRENT_USER, policy, 1));
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, run, "C:\\windows\\worm.exe"));

  DetectionList rows;
  rows.AddDetection("HKEY_CURRENT_USER\\" + run, "Brontok-4", "Registry was infected");
  rows.AddDetection(tree.Write("worm.exe", "MZ"), "Brontok-4", "");
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
  CleanRows(rows, ApplyChanges(), nullptr, nullptr);
  EXPECT_EQ(rows.Row(0).information, "This object was cleaned!");
  EXPECT_EQ(rows.Row(1).information, "This object was cleaned!");

  const std::string query = env + "wine reg query ";
  const std::string policies = Output(query + "'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System' 2>&1");
  EXPECT_NE(policies.find("DisableTaskMgr"), std::string::npos) << policies;
  EXPECT_NE(policies.find("0x0"), std::string::npos) << policies;
  const std::string runKey = Output(query + "'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' 2>&1");
  EXPECT_EQ(runKey.find("Bron-Spizaetus"), std::string::npos) << runKey;
  const std::string exe = Output(query + "'HKLM\\Software\\Classes\\exefile\\shell\\open\\command' 2>&1");
  EXPECT_NE(exe.find("\"%1\" %*"), std::string::npos) << exe;
  std::system((env + "wineserver -k >/dev/null 2>&1; " + env + "wineserver -w").c_str());
}

TEST(WineCleanTest, UndoneValuesReadBackThroughWineAsBeforeTheClean) {
  if (!HaveWine()) GTEST_SKIP() << "Wine is not installed";
  test::TempTree tree;
  const std::string prefix = tree.Path("prefix");
  test::ScopedEnvironment wineprefix("WINEPREFIX", prefix);
  test::ScopedEnvironment debug("WINEDEBUG", std::string("-all"));
  test::ScopedEnvironment data("XDG_DATA_HOME", tree.Path("data"));
  const std::string env = "WINEPREFIX='" + prefix + "' WINEDEBUG=-all ";
  if (std::system((env + "wineboot -i >/dev/null 2>&1; " + env + "wineserver -w").c_str()) != 0 ||
      !fs::exists(prefix + "/user.reg")) {
    GTEST_SKIP() << "wineboot could not make a prefix";
  }
  const std::string query = env + "wine reg query ";
  const std::string exeKey = "'HKLM\\Software\\Classes\\exefile\\shell\\open\\command' 2>&1";
  const std::string exeBefore = Output(query + exeKey);
  std::system((env + "wineserver -w").c_str());
  const std::string policy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr";
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Bron-Spizaetus";
  ASSERT_TRUE(WriteRegDWord(HKEY_CURRENT_USER, policy, 1));
  ASSERT_TRUE(WriteRegString(HKEY_CURRENT_USER, run, "C:\\windows\\worm.exe"));

  DetectionList rows;
  rows.AddDetection("HKEY_CURRENT_USER\\" + run, "Brontok-4", "Registry was infected");
  rows.AddDetection(tree.Write("worm.exe", "MZ"), "Brontok-4", "");
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
  {
    JournalSink sink("clean", rows);
    CleanRows(rows, sink, nullptr, nullptr);
  }  // the action ends, and with it its hold on the records
  ASSERT_EQ(rows.Row(0).information, "This object was cleaned!");
  const UndoReport report = UndoAction("last");
  EXPECT_TRUE(report.Complete());

  const std::string policies = Output(query + "'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System' 2>&1");
  EXPECT_NE(policies.find("0x1"), std::string::npos) << policies;
  const std::string runKey = Output(query + "'HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Run' 2>&1");
  EXPECT_NE(runKey.find("C:\\windows\\worm.exe"), std::string::npos) << runKey;
  EXPECT_EQ(Output(query + exeKey), exeBefore);
  EXPECT_EQ(test::ReadFileBytes(rows.Row(1).fileName), "MZ");
  std::system((env + "wineserver -k >/dev/null 2>&1; " + env + "wineserver -w").c_str());
}

}  // namespace
}  // namespace korbu
