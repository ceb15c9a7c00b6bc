// korbu-scan --clamd, the real program against a clamd of the test's own: its
// rows and exit status, the server's versions where the engine's are shown, the
// verdict cache keyed by them, and a clamd that does not answer stopping it.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "support/CacheTrust.h"
#include "support/ClamdProcess.h"
#include "support/TempTree.h"
#endif

#ifndef _WIN32
namespace korbu {
namespace {

constexpr char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

struct ScanRun {
  int status = -1;
  std::string out;
  std::string err;
};

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// No Wine prefix is looked at, and the verdict cache is the test's own.
ScanRun Scan(const test::TempTree& tree, const std::vector<std::string>& args) {
  std::string command = "env WINEPREFIX=/nonexistent-prefix XDG_CACHE_HOME=" + Quote(tree.Path("cache-home")) + " " +
                        Quote(KORBU_SCAN_EXE) + " --no-memory --no-registry";
  for (const std::string& arg : args) command += " " + Quote(arg);
  command += " 2>" + Quote(tree.Path("stderr"));
  ScanRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  const int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = test::ReadFileBytes(tree.Path("stderr"));
  return run;
}

TEST(ClamdCli, RowsExitStatusVersionsAndCacheThroughClamd) {
  if (const std::string why = test::ClamdProcess::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  test::TempTree tree;
  if (const std::string why = test::CacheDistrusts(tree.Path()); !why.empty()) GTEST_SKIP() << why;
  test::ClamdProcess clamd(tree.MakeDir("clamd"), false);
  ASSERT_TRUE(clamd.Started()) << clamd.Problem();
  const std::string eicar = tree.Write("scan/eicar.com", kEicar);
  tree.Write("scan/a.txt", "clean one\n");
  tree.Write("scan/b.txt", "clean two\n");
  // A file changed in the clock tick it is judged in is not kept.
  std::this_thread::sleep_for(std::chrono::milliseconds(30));

  // The second scan takes the clean files from the cache the first one filled.
  for (int round = 0; round < 2; ++round) {
    const ScanRun json = Scan(tree, {"--json", "--clamd", clamd.Address().Text(), tree.Path("scan")});
    ASSERT_EQ(json.status, 1) << json.err;
    const nlohmann::json report = nlohmann::json::parse(json.out);
    EXPECT_TRUE(report["engine"]["active"].get<bool>());
    EXPECT_EQ(report["engine"]["daily_version"], "3");
    EXPECT_EQ(report["engine"]["engine_version"].get<std::string>().rfind("ClamAV ", 0), 0u);
    ASSERT_EQ(report["detections"].size(), 1u);
    EXPECT_EQ(report["detections"][0]["file"], eicar);
    EXPECT_EQ(report["detections"][0]["virus"], "Eicar-Test-Signature");
    EXPECT_EQ(report["errors"].size(), 0u);
    EXPECT_TRUE(report["cache"]["used"].get<bool>()) << json.err;
    EXPECT_EQ(report["cache"]["from_cache"].get<int>(), round == 0 ? 0 : 2) << json.err;
  }
}

TEST(ClamdCli, AClamdThatDoesNotAnswerStopsTheScan) {
  test::TempTree tree;
  tree.Write("scan/a.txt", "clean one\n");
  const ScanRun run = Scan(tree, {"--clamd", tree.Path("no-clamd.sock"), tree.Path("scan")});
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("clamd did not answer"), std::string::npos) << run.err;
  EXPECT_EQ(run.out.find("a.txt"), std::string::npos);

  const ScanRun both = Scan(tree, {"--clamd", "localhost:3310", "--database", tree.Path(), tree.Path("scan")});
  EXPECT_EQ(both.status, 2);
  EXPECT_NE(both.err.find("--clamd goes without --database"), std::string::npos) << both.err;
}

}  // namespace
}  // namespace korbu
#endif
