// korbu-scan --clean, --history and --undo through the real binary, on a
// handwritten Wine prefix with a data folder of its own.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "repair/RegistryValues.h"
#include "scan/RegistryLocations.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/WinePrefixFixture.h"

namespace korbu::cli {
namespace {

struct ProgramRun {
  int status = -1;
  std::string out;
};

// The prefix and the data folder reach the program through the environment.
ProgramRun KorbuScan(const std::string& args) {
  ProgramRun run;
  FILE* pipe = ::popen((std::string(KORBU_SCAN_EXE) + " " + args + " 2>&1").c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}

std::string TaskMgr() {
  const auto value = CurrentRegistryValue(
      HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr");
  return value ? std::to_string(value->type) + ":" + value->data : "(none)";
}

TEST(CliUndoEndToEnd, CleanIsListedAndUndoneByUndoLast) {
  test::WinePrefixFixture prefix(
      "", "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Policies\\\\System] 1700000000\n"
          "\"DisableTaskMgr\"=dword:00000001\n\n");
  test::TempTree home;
  test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
  const std::string worm = prefix.WriteC("windows/ShellNew/sempalong.exe", test::VariantFile(1));
  const std::string before = TaskMgr();

  const ProgramRun clean = KorbuScan("--no-memory --no-registry --clean '" + prefix.DriveC("windows/ShellNew") + "'");
  ASSERT_EQ(clean.status, 1) << clean.out;
  EXPECT_NE(clean.out.find("Recorded as action "), std::string::npos) << clean.out;
  EXPECT_FALSE(std::filesystem::exists(worm));
  EXPECT_NE(TaskMgr(), before);

  const ProgramRun history = KorbuScan("--history --json");
  ASSERT_EQ(history.status, 0) << history.out;
  const auto doc = nlohmann::json::parse(history.out);
  ASSERT_EQ(doc["actions"].size(), 1u);
  EXPECT_EQ(doc["actions"][0]["action"], "clean");
  EXPECT_EQ(doc["actions"][0]["rows"][0]["file"], worm);
  EXPECT_GT(doc["actions"][0]["changes"].get<std::int64_t>(), 16);
  EXPECT_TRUE(doc["actions"][0]["undone"].is_null());

  const ProgramRun undo = KorbuScan("--undo last");
  EXPECT_EQ(undo.status, 0) << undo.out;
  EXPECT_EQ(test::ReadFileBytes(worm), test::VariantFile(1));
  EXPECT_EQ(TaskMgr(), before);
  EXPECT_NE(KorbuScan("--history").out.find(", undone "), std::string::npos);
  EXPECT_EQ(KorbuScan("--undo last").status, 2);  // nothing left to undo
  EXPECT_EQ(KorbuScan("--undo last --clean").status, 2);
}

}  // namespace
}  // namespace korbu::cli
#endif
