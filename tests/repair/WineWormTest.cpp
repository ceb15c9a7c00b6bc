// A stand-in worm running under Wine in a fresh prefix, writing its values every
// half second: the scan lists it, one Clean stops it and repairs the registry as
// Wine sees it, for good, while the user's other program and Run value stay.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <thread>

#include "detect/VariantTable.h"
#include "repair/RowActions.h"
#include "scan/MemoryScan.h"
#include "scan/RegistryScan.h"
#include "services/ProcList.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr const char* kRun = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";  // as the scan names it

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

bool Running(const std::string& image) {
  const auto paths = GetProcessPaths();
  if (!paths) return false;
  for (const std::string& path : *paths)
    if (path.find(image) != std::string::npos) return true;
  return false;
}

template <typename Condition>
bool WaitFor(Condition condition) {
  for (int i = 0; i < 300; ++i) {
    if (condition()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
  return false;
}

class WineWorm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveWine() || std::string(KORBU_STAND_IN_WORM).empty()) return;
    tree_ = new test::TempTree();
    prefix_ = tree_->Path("prefix");
    env_ = "WINEPREFIX='" + prefix_ + "' WINEDEBUG=-all ";
    booted_ = std::system((env_ + "wineboot -i >/dev/null 2>&1; " + env_ + "wineserver -w").c_str()) == 0 &&
              fs::exists(prefix_ + "/user.reg");
  }
  static void TearDownTestSuite() {
    if (tree_ != nullptr) std::system((env_ + "wineserver -k >/dev/null 2>&1; " + env_ + "wineserver -w").c_str());
    delete tree_;
    tree_ = nullptr;
  }
  void SetUp() override {
    if (!HaveWine()) GTEST_SKIP() << "Wine is not installed";
    if (std::string(KORBU_STAND_IN_WORM).empty()) GTEST_SKIP() << "no MinGW-w64 to build the stand-in worm";
    if (!booted_) GTEST_SKIP() << "wineboot could not make a prefix";
  }

  // Starts a Windows program of the prefix in the background.
  static void Start(const std::string& windowsPath, const std::string& argument = {}) {
    std::system((env_ + "wine '" + windowsPath + "' " + argument + " >/dev/null 2>&1 &").c_str());
  }
  static std::string Query(const std::string& key) {
    return Output(env_ + "wine reg query '" + key + "' 2>&1");
  }

  static inline test::TempTree* tree_ = nullptr;
  static inline std::string prefix_;
  static inline std::string env_;
  static inline bool booted_ = false;
};

TEST_F(WineWorm, OneCleanStopsItAndItsRepairHoldsThroughARestart) {
  std::ifstream in(KORBU_STAND_IN_WORM, std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(program.empty());
  // The worm's copy gets the checksum of a variant; the idle copy stays unknown.
  const std::string windows = prefix_ + "/drive_c/windows/";
  std::ofstream(windows + "bronworm.exe", std::ios::binary) << test::ForgeFileWithCrc(program, VariantCrcTable[2]);
  std::ofstream(windows + "idle.exe", std::ios::binary) << program;
  ASSERT_EQ(std::system((env_ + "wine reg add '" + kRun + "' /v KeepMe /d 'C:\\windows\\notepad.exe' /f >/dev/null 2>&1").c_str()), 0);
  Start("C:\\windows\\idle.exe", "idle");
  Start("C:\\windows\\bronworm.exe");
  ASSERT_TRUE(WaitFor([] { return Query(kRun).find("Bron\\Tok") != std::string::npos; }));
  ASSERT_TRUE(Running("idle.exe"));

  test::ScopedEnvironment wineprefix("WINEPREFIX", prefix_);
  test::ScopedEnvironment data("XDG_DATA_HOME", tree_->Path("data"));
  // Every Wine start of the program is counted.
  const std::string calls = tree_->Path("calls");
  const std::string counter = tree_->Write("count-wine", "#!/bin/sh\necho x >> '" + calls + "'\nexec wine \"$@\"\n");
  fs::permissions(counter, fs::perms::owner_all);
  test::ScopedEnvironment wine("WINE", counter);

  test::ListOnlyFrontEnd scan;
  ScanMemory(scan, ScanContext{});
  ScanRegistry(scan, ScanContext{});
  const std::string worm = prefix_ + "/dosdevices/c:/windows/bronworm.exe";
  bool inMemory = false, runValue = false, backslashValue = false;
  std::string listed;
  for (const DetectionRow& row : scan.list.Rows()) {
    listed += row.fileName + " (" + row.information + ")\n";
    std::error_code ec;
    inMemory = inMemory || (row.information == kInfoMemory && fs::equivalent(row.fileName, worm, ec));
    const auto& value = row.registryValue;
    const bool inRun = value && value->root == HKEY_CURRENT_USER && value->keyPath == kRunKey;
    runValue = runValue || (inRun && value->valueName == "Bron-Spizaetus");
    // Named with a backslash: listed under the exact name, shown as root\key\name.
    backslashValue = backslashValue || (inRun && value->valueName == "Bron\\Tok" &&
                                        row.fileName == RegistryLocationText(*value));
  }
  EXPECT_TRUE(inMemory) << listed;
  EXPECT_TRUE(runValue) << listed;
  EXPECT_TRUE(backslashValue) << listed;

  fs::remove(calls);
  DetectionList& rows = scan.list;
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
  const auto started = std::chrono::steady_clock::now();
  std::vector<RowResult> results;
  CleanRows(rows, ApplyChanges(), nullptr, [&](const RowResult& r) { results.push_back(r); });
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  std::ifstream counted(calls);
  const auto wineCalls = std::count(std::istreambuf_iterator<char>(counted), std::istreambuf_iterator<char>(), '\n');
  std::printf("Clean of %zu rows with Wine running: %ld Wine calls, %.1f s\n", rows.Count(),
              static_cast<long>(wineCalls), seconds);
  // Bounded by the rows, never by the values: the Run key and the shell folders
  // read once, and each row's changes made and read back together.
  EXPECT_LE(static_cast<std::size_t>(wineCalls), rows.Count() + 2);
  for (const RowResult& result : results) {
    EXPECT_TRUE(result.handled) << rows.Row(result.index).fileName << ": " << result.reason;
  }
  EXPECT_FALSE(Running("bronworm.exe"));
  EXPECT_TRUE(Running("idle.exe"));

  // As Wine sees it now, a little later (the worm would have struck again), and
  // after its server has ended and started afresh.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  for (int pass = 0; pass < 2; ++pass) {
    SCOPED_TRACE(pass == 0 ? "while Wine runs" : "after a restart");
    const std::string run = Query(kRun);
    EXPECT_EQ(run.find("Bron"), std::string::npos) << run;
    EXPECT_NE(run.find("KeepMe"), std::string::npos) << run;
    const std::string policy = Query("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
    EXPECT_NE(policy.find("DisableTaskMgr    REG_DWORD    0x0"), std::string::npos) << policy;
    const std::string open = Query("HKLM\\Software\\Classes\\exefile\\shell\\open\\command");
    EXPECT_NE(open.find("REG_SZ    \"%1\" %*"), std::string::npos) << open;
    if (pass == 0) {
      ASSERT_EQ(std::system((env_ + "wineserver -k >/dev/null 2>&1; " + env_ + "wineserver -w").c_str()), 0);
    }
  }
}

}  // namespace
}  // namespace korbu
