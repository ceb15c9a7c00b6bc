#include <gtest/gtest.h>
// Runs copies of /bin/sleep and needs the engine library, which exists only for
// the POSIX build; the Windows memory phase is checked by the Windows test script.
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <thread>

#include "engine/VirusClamAV.h"
#include "platform/Processes.h"
#include "scan/MemoryScan.h"
#include "scan/ScanContext.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

using ListOnly = test::ListOnlyFrontEnd;

std::string Md5Of(const std::string& path) {
  std::string command = "md5sum '" + path + "'";
  FILE* pipe = ::popen(command.c_str(), "r");
  char buffer[64] = {};
  std::size_t n = pipe ? std::fread(buffer, 1, 32, pipe) : 0;
  if (pipe) ::pclose(pipe);
  return std::string(buffer, n);
}

pid_t StartSleeper(const std::string& program) {
  pid_t pid = ::fork();
  if (pid == 0) {
    ::execl(program.c_str(), program.c_str(), "30", static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Wait until the child runs the copied program, not the test binary.
  for (int i = 0; i < 200; ++i) {
    std::error_code ec;
    if (fs::read_symlink("/proc/" + std::to_string(pid) + "/exe", ec) == program) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return pid;
}

TEST(MemoryScan, ARunningProgramTheEngineNamesIsListedOnce) {
  const std::string shared = test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared signature databases are not there";
  test::TempTree tree;
  const std::string program = tree.Path("sleeper");
  fs::copy_file("/bin/sleep", program);
  fs::permissions(program, fs::perms::owner_all);
  // A signature of our own for exactly this copy: the engine loads every database
  // file of its folder.
  const std::string db = tree.MakeDir("db");
  fs::copy_file(shared + "/engine-test-db/main.cvd", db + "/main.cvd");
  fs::copy_file(shared + "/engine-test-db/daily.cvd", db + "/daily.cvd");
  tree.Write("db/own.hdb", Md5Of(program) + ":" + std::to_string(fs::file_size(program)) + ":Korbu.Test.Sleeper\n");

  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, db);
  ASSERT_TRUE(LoadVirusDatabase()) << "engine library or databases did not load";
  VirusEngine->SetScanOptions(878);

  platform::LimitSnapshotsToDescendants();  // only what this test starts is judged
  pid_t first = StartSleeper(program);
  pid_t second = StartSleeper(program);
  ListOnly frontEnd;
  ScanMemory(frontEnd, ScanContext{VirusEngine.get(), false});
  ::kill(first, SIGKILL);
  ::kill(second, SIGKILL);
  ::waitpid(first, nullptr, 0);
  ::waitpid(second, nullptr, 0);

  std::size_t rows = 0;
  for (const auto& row : frontEnd.list.Rows()) {
    if (row.path != program) continue;
    ++rows;
    EXPECT_EQ(row.virusName, "Korbu.Test.Sleeper.UNOFFICIAL");  // the engine marks unsigned signatures
    EXPECT_EQ(row.kind, DetectionKind::Program);
  }
  EXPECT_EQ(rows, 1u);
}

}  // namespace
}  // namespace korbu
#endif  // _WIN32
