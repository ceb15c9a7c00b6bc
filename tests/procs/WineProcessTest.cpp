// A Windows program running under Wine is listed with the native path of its .exe
// (not the Wine loader) and is ended by that path. One prefix is booted for the
// whole test program, because a first boot takes a good while.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <thread>

#include "ChildProcess.h"
#include "services/ProcList.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ChildProcess;
using namespace std::chrono_literals;

const std::string kWine = KORBU_PROCS_WINE;
const std::string kWineServer = KORBU_PROCS_WINESERVER;
const std::string kWinSleeper = KORBU_PROCS_WIN_SLEEPER;

bool IsProgram(const std::string& path) { return !path.empty() && ::access(path.c_str(), X_OK) == 0; }

class WineProcessTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!IsProgram(kWine)) {
      skipReason_ = "Wine is not installed";
      return;
    }
    if (kWinSleeper.empty() || !fs::exists(kWinSleeper)) {
      skipReason_ = "no MinGW-w64 cross compiler to build the Windows test program";
      return;
    }
    prefixTree_ = std::make_unique<test::TempTree>();
    prefix_ = fs::canonical(prefixTree_->Root()).string() + "/prefix";
    ChildProcess boot(kWine, {kWine, "wineboot", "-i"}, Environment());
    if (!boot.Started() || boot.WaitForEnd(240s) != 0 || !fs::exists(prefix_ + "/drive_c")) {
      skipReason_ = "wineboot could not make a prefix in " + prefix_;
    }
  }

  static void TearDownTestSuite() {
    if (IsProgram(kWineServer) && !prefix_.empty()) {
      ChildProcess stop(kWineServer, {kWineServer, "-k"}, Environment());
      stop.WaitForEnd(60s);
    }
    prefixTree_.reset();
  }

  void SetUp() override {
    if (!skipReason_.empty()) GTEST_SKIP() << skipReason_;
  }

  static std::vector<std::string> Environment() {
    return {"WINEPREFIX=" + prefix_, "WINEDEBUG=-all", "WINELOADER=" + kWine};
  }

  // Waits until the process with that id is in the table with a non-empty
  // image; returns that image (empty when it never showed up).
  static std::string ImageOnceRunning(std::uint32_t id) {
    const auto until = std::chrono::steady_clock::now() + 90s;
    while (std::chrono::steady_clock::now() < until) {
      TProcessManager manager;
      if (manager.Refresh()) {
        const auto& ids = manager.ProcessIds();
        auto found = std::find(ids.begin(), ids.end(), std::to_string(id));
        if (found != ids.end()) {
          const std::string& image = manager.ImagePaths()[static_cast<std::size_t>(found - ids.begin())];
          // Until Wine has loaded the program, the process runs the loader.
          if (!image.empty() && fs::path(image).filename() != fs::path(kWine).filename()) return image;
        }
      }
      std::this_thread::sleep_for(100ms);
    }
    return {};
  }

  static inline std::unique_ptr<test::TempTree> prefixTree_;
  static inline std::string prefix_;
  static inline std::string skipReason_;
};

TEST_F(WineProcessTest, ListedAndEndedByTheNativePathOfItsExe) {
  const std::string worm = prefix_ + "/drive_c/Worm Dir/WormTest.exe";
  fs::create_directories(fs::path(worm).parent_path());
  fs::copy_file(kWinSleeper, worm);

  // Once by a Windows path in other letter case, once by the native path.
  ChildProcess byWindowsPath(kWine, {kWine, "C:\\worm dir\\WORMTEST.exe"}, Environment());
  ChildProcess byNativePath(kWine, {kWine, worm}, Environment());
  ASSERT_TRUE(byWindowsPath.Started() && byNativePath.Started());

  EXPECT_EQ(ImageOnceRunning(byWindowsPath.Id()), worm);
  EXPECT_EQ(ImageOnceRunning(byNativePath.Id()), worm);
  // Each knows its prefix: the one whose server serves it.
  TProcessManager manager;
  ASSERT_TRUE(manager.Refresh());
  const int index = static_cast<int>(std::find(manager.ProcessIds().begin(), manager.ProcessIds().end(),
                                               std::to_string(byWindowsPath.Id())) - manager.ProcessIds().begin());
  ASSERT_LT(index, static_cast<int>(manager.ProcessIds().size()));
  EXPECT_EQ(fs::canonical(manager.WinePrefixes()[static_cast<std::size_t>(index)]), fs::canonical(prefix_));
  auto paths = GetProcessPaths();
  ASSERT_TRUE(paths.has_value());
  EXPECT_EQ(std::count(paths->begin(), paths->end(), worm), 2);

  KillProcessByPath(worm);
  EXPECT_EQ(byWindowsPath.WaitForEnd(20s), SIGKILL);
  EXPECT_EQ(byNativePath.WaitForEnd(20s), SIGKILL);
}

TEST_F(WineProcessTest, DeletedExeIsStillFoundByItsPath) {
  const std::string worm = prefix_ + "/drive_c/gone.exe";
  fs::copy_file(kWinSleeper, worm);
  ChildProcess running(kWine, {kWine, "C:\\gone.exe"}, Environment());
  ASSERT_TRUE(running.Started());
  ASSERT_EQ(ImageOnceRunning(running.Id()), worm);

  fs::remove(worm);
  TProcessManager manager;
  ASSERT_TRUE(manager.Refresh());
  EXPECT_EQ(std::count(manager.ImagePaths().begin(), manager.ImagePaths().end(), worm), 1);
  KillProcessByPath(worm);
  EXPECT_EQ(running.WaitForEnd(20s), SIGKILL);
}

}  // namespace
}  // namespace korbu
