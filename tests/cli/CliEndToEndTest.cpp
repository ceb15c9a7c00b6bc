// Runs the real korbu-scan binary on generated trees.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/stat.h>
#include <sys/wait.h>
#endif

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "platform/Path.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu::cli {
namespace {
namespace fs = std::filesystem;
using test::TempTree;

struct ScanRun {
  int status = -1;
  std::string out;
};

#ifdef _WIN32
// The command interpreter: arguments in double quotes (no test path holds one), and
// the whole line quoted once more, since it drops the outer quotes.
ScanRun Scan(const std::vector<std::string>& args) {
  const std::string program =
      platform::IncludeTrailingDelimiter(platform::ExtractFilePath(platform::ExecutablePath())) + "korbu-scan.exe";
  std::string command = "\"\"" + program + "\"";
  for (const auto& a : args) command += " \"" + a + "\"";
  command += " 2>NUL\"";
  ScanRun run;
  FILE* pipe = ::_popen(command.c_str(), "rb");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  run.status = ::_pclose(pipe);
  // The program writes text lines the Windows way.
  std::string lines;
  for (std::size_t i = 0; i < run.out.size(); ++i) {
    if (run.out[i] == '\r' && i + 1 < run.out.size() && run.out[i + 1] == '\n') continue;
    lines += run.out[i];
  }
  run.out = lines;
  return run;
}
#else
std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// No Wine prefix is looked at and no running program is scanned unless a test asks.
ScanRun Scan(const std::vector<std::string>& args, bool withStderr = false) {
  std::string command = "WINEPREFIX=/nonexistent-prefix " + Quote(KORBU_SCAN_EXE);
  for (const auto& a : args) command += " " + Quote(a);
  command += withStderr ? " 2>&1" : " 2>/dev/null";
  ScanRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return run;
}
#endif

TEST(CliEndToEnd, ListsDetectionsInTextAndSetsTheExitStatus) {
  TempTree tree;
  const auto worm = tree.Write("x/worm.exe", test::VariantFile(10));
  const auto heur = tree.Write("x/y/new.scr", test::HeuristicFile());
  tree.Write("readme.txt", "hello");
  ScanRun run = Scan({"--no-memory", "--no-registry", "--database", tree.Path("x"), tree.Path()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("DLL "), std::string::npos);
  EXPECT_NE(run.out.find("Database NOT loaded.\n"), std::string::npos);
  EXPECT_NE(run.out.find("Virus Signature: 16 viruses\n"), std::string::npos);
  EXPECT_NE(run.out.find(worm + ": Brontok-16A FOUND\n"), std::string::npos);
  EXPECT_NE(run.out.find(heur + ": Brontok.Variant FOUND\n"), std::string::npos);
  EXPECT_NE(run.out.find("\n3 file(s) and 3 Folder(s) scanned. Scan is finished...\n"), std::string::npos);

  ScanRun quiet = Scan({"--no-memory", "--no-registry", "--no-heuristic", "--program-files-only", tree.Path()});
  EXPECT_EQ(quiet.status, 1);
  EXPECT_EQ(quiet.out.find("Brontok.Variant"), std::string::npos);
  EXPECT_NE(quiet.out.find("\n2 file(s) and 3 Folder(s) scanned."), std::string::npos);
}

TEST(CliEndToEnd, CleanTreeAndErrors) {
  TempTree tree;
  tree.Write("a.txt", "nothing here");
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", tree.Path()}).status, 0);
  ScanRun none = Scan({"--no-memory", "--no-registry"});
  EXPECT_EQ(none.status, 0);
  EXPECT_NE(none.out.find("\n0 file(s) and 0 Folder(s) scanned. Scan is finished...\n"), std::string::npos);
  EXPECT_EQ(Scan({"--frobnicate", tree.Path()}).status, 2);
  EXPECT_EQ(Scan({tree.Path("missing")}).status, 2);
  EXPECT_EQ(Scan({tree.Path("a.txt")}).status, 2);
  EXPECT_EQ(Scan({"--database", tree.Path("missing"), tree.Path()}).status, 2);
  ScanRun version = Scan({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "korbu-scan 1.0.0 RC1\n");
}

#ifndef _WIN32  // Windows does not let a folder in use as current be removed
TEST(CliEndToEnd, ARemovedCurrentFolderEndsWithAnError) {
  TempTree tree;
  const std::string gone = tree.MakeDir("gone");
  const std::string command = "cd " + Quote(gone) + " && rmdir " + Quote(gone) + " && WINEPREFIX=/nonexistent-prefix exec " +
                              Quote(KORBU_SCAN_EXE) + " --no-memory --no-registry . 2>&1";
  FILE* pipe = ::popen(command.c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  std::string out;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  ASSERT_TRUE(WIFEXITED(status)) << "killed by signal " << WTERMSIG(status) << "\n" << out;
  EXPECT_EQ(WEXITSTATUS(status), 2) << out;
  EXPECT_NE(out.find("the current folder has been removed: ."), std::string::npos) << out;
}
#endif

TEST(CliEndToEnd, WalkIgnoresFifosAndLinkLoops) {
  TempTree tree;
  tree.Write("d/worm.exe", test::VariantFile(1));
#ifndef _WIN32  // POSIX kinds of entry; the counts below hold everywhere
  ASSERT_EQ(::mkfifo(tree.Path("d/pipe.exe").c_str(), 0600), 0);
  fs::create_directory_symlink(tree.Path(), tree.Path("d/loop"));
  fs::create_symlink(tree.Path("d/worm.exe"), tree.Path("link.exe"));
#endif
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json", tree.Path()});
  ASSERT_EQ(run.status, 1);
  auto doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["files_scanned"], 1);
  EXPECT_EQ(doc["folders_scanned"], 2);
  ASSERT_EQ(doc["detections"].size(), 1u);
  EXPECT_EQ(doc["detections"][0]["file"], tree.Path("d/worm.exe"));
}

TEST(CliEndToEnd, JsonKeepsNamesThatAreNotUtf8) {
  TempTree tree;
  const std::string name = std::string("bad\xFF") + "name.exe";
  tree.Write(name, test::VariantFile(2));
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json", tree.Path()});
  ASSERT_EQ(run.status, 1);
  auto doc = nlohmann::json::parse(run.out);
  ASSERT_EQ(doc["detections"].size(), 1u);
  const auto& row = doc["detections"][0];
  EXPECT_EQ(row["file"], tree.Path() + platform::kPathDelim + "bad\xEF\xBF\xBDname.exe");
  EXPECT_TRUE(row.contains("file_base64"));
  EXPECT_EQ(row["virus"], "Brontok-3");
  EXPECT_EQ(row["information"], "");
  EXPECT_FALSE(doc["engine"]["active"].get<bool>());
}

TEST(CliEndToEnd, SignatureEngineJoinsWithTheSharedDatabases) {
  const std::string shared = test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared signature databases are not there";
#ifdef _WIN32
  GTEST_SKIP() << "no ClamAV for Windows here (scripts/test-windows.sh tries a stand-in)";
#endif
  TempTree tree;
  const auto eicar = tree.Write("eicar.com",
      "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*");
  const auto worm = tree.Write("worm.exe", test::VariantFile(8));
  const std::string db = shared + "/engine-test-db";
  ScanRun run = Scan({"--no-memory", "--no-registry", "--database", db, tree.Path()});
  EXPECT_EQ(run.status, 1);
  EXPECT_NE(run.out.find("DLL loaded.\nDatabase loaded.\n"), std::string::npos) << run.out;
  EXPECT_NE(run.out.find("Virus Signature: 33 viruses\n"), std::string::npos);
  EXPECT_NE(run.out.find("CVD Version: [Main: 6; Daily: 3]\n"), std::string::npos);
  EXPECT_NE(run.out.find("CVD Date Created: [Main: 22 Jun 2021] [Daily: 22 Jun 2021]\n"), std::string::npos);
  EXPECT_NE(run.out.find(eicar + ": Eicar-Test-Signature FOUND\n"), std::string::npos);
  EXPECT_NE(run.out.find(worm + ": Brontok-14 FOUND\n"), std::string::npos);

  ScanRun json = Scan({"--no-memory", "--no-registry", "--json", "--database", db, tree.Path()});
  auto doc = nlohmann::json::parse(json.out);
  EXPECT_TRUE(doc["engine"]["library_loaded"].get<bool>());
  EXPECT_TRUE(doc["engine"]["database_loaded"].get<bool>());
  EXPECT_TRUE(doc["engine"]["active"].get<bool>());
  EXPECT_EQ(doc["engine"]["signatures"], 17);
  EXPECT_EQ(doc["engine"]["main_version"], "6");
  EXPECT_EQ(doc["engine"]["daily_date"], "22 Jun 2021");

  // Archives are looked into only with the archive option.
  const fs::path zip = "/usr/share/clamav-testfiles/clam.zip";
  if (!fs::exists(zip)) GTEST_SKIP() << "clamav-testfiles is not installed";
  fs::copy_file(zip, tree.Path("clam.zip"));
  ScanRun withArchive = Scan({"--no-memory", "--no-registry", "--database", db, tree.Path()});
  EXPECT_NE(withArchive.out.find("clam.zip: Clamav.Test.File-6 FOUND"), std::string::npos);
  ScanRun noArchive = Scan({"--no-memory", "--no-registry", "--no-archive", "--database", db, tree.Path()});
  EXPECT_EQ(noArchive.out.find("clam.zip:"), std::string::npos);
}

TEST(CliEndToEnd, EngineStaysOffWithoutItsDatabases) {
  TempTree tree;
  tree.Write("only/main.cvd", "ClamAV-VDB:broken");
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json", "--database", tree.Path("only"), tree.Path()});
  auto doc = nlohmann::json::parse(run.out);
  EXPECT_FALSE(doc["engine"]["database_loaded"].get<bool>());
  EXPECT_FALSE(doc["engine"]["active"].get<bool>());
  EXPECT_EQ(doc["engine"]["daily_version"], "");
  EXPECT_NE(doc["engine"]["not_loaded_reason"].get<std::string>().find("daily.cld is missing"),
            std::string::npos);
#ifndef _WIN32
  const std::string reason =
      "database folder \"" + tree.Path("only") + "/\": daily.cvd or daily.cld is missing";
  EXPECT_EQ(doc["engine"]["not_loaded_reason"], reason);
  ScanRun text = Scan({"--no-memory", "--no-registry", "--database", tree.Path("only"), tree.Path()}, true);
  EXPECT_NE(text.out.find("korbu-scan: engine not loaded: " + reason + "\n"), std::string::npos) << text.out;
#endif
}

}  // namespace
}  // namespace korbu::cli
