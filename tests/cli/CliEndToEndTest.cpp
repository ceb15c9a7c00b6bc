// Runs the real korbu-scan binary on generated trees.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

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
  std::string err;  // standard error (not kept on Windows)
};

#ifdef _WIN32
// The command interpreter: arguments in double quotes (no test path holds one), and
// the whole line quoted once more, since it drops the outer quotes.
ScanRun Scan(const std::vector<std::string>& args, const std::string& = std::string()) {
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
// prefix goes before the program (a change of folder, of user).
ScanRun Scan(const std::vector<std::string>& args, const std::string& prefix = std::string()) {
  TempTree errTree;
  const std::string errFile = errTree.Path("stderr");
  std::string command = prefix + " env WINEPREFIX=/nonexistent-prefix " + Quote(KORBU_SCAN_EXE);
  for (const auto& a : args) command += " " + Quote(a);
  command += " 2>" + Quote(errFile);
  ScanRun run;
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return run;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) run.out.append(buffer, n);
  int status = ::pclose(pipe);
  run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  run.err = test::ReadFileBytes(errFile);
  return run;
}
#endif

TEST(CliEndToEnd, ListsDetectionsInTextAndSetsTheExitStatus) {
  TempTree tree;
  const auto worm = tree.Write("x/worm.exe", test::VariantFile(10));
  const auto heur = tree.Write("x/y/new.scr", test::HeuristicFile());
  tree.Write("readme.txt", "hello");
  ScanRun run = Scan({"--no-memory", "--no-registry", "--no-engine", tree.Path()});
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
  EXPECT_EQ(Scan({"--frobnicate", tree.Path()}).status, 2);
  // No phase looks at the machine's running programs: they are not the test's.
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", tree.Path("missing")}).status, 2);
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", tree.Path("a.txt")}).status, 0);  // a file is judged
  // No Wine prefix: there is no registry to scan, which is said and no error.
  const ScanRun noPrefix = Scan({"--no-memory", tree.Path()});
  EXPECT_EQ(noPrefix.status, 0) << noPrefix.out;
  EXPECT_EQ(noPrefix.out.find("ERROR"), std::string::npos) << noPrefix.out;
#ifndef _WIN32
  EXPECT_NE(noPrefix.err.find("korbu-scan: no registry to scan: no Wine prefix"), std::string::npos) << noPrefix.err;
#endif
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", "--database", tree.Path("missing"), tree.Path()}).status, 2);
  ScanRun version = Scan({"--version"});
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out.rfind("korbu-scan 1.0.0 RC1\nEngine: ", 0), 0u) << version.out;
  EXPECT_NE(version.out.find("\nDatabases: "), std::string::npos) << version.out;
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
  EXPECT_NE(out.find(".: the current folder has been removed ERROR\n"), std::string::npos) << out;
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

#ifndef _WIN32
// As clamscan: a link named on the command line is followed (/bin on Debian), and
// what it leads to is listed by its own name; a file named twice is judged once.
TEST(CliEndToEnd, NamedLinksAreFollowedAndAFileNamedTwiceCountsOnce) {
  TempTree tree;
  const auto worm = tree.Write("real/w.exe", test::VariantFile(4));
  fs::create_directory_symlink(tree.Path("real"), tree.Path("folder-link"));
  fs::create_symlink(worm, tree.Path("file-link"));
  fs::create_symlink(tree.Path("nowhere"), tree.Path("dangling"));
  for (const std::string& named : {tree.Path("folder-link"), tree.Path("file-link")}) {
    ScanRun run = Scan({"--no-memory", "--no-registry", "--json", named, worm});
    ASSERT_EQ(run.status, 1) << named << run.out << run.err;
    auto doc = nlohmann::json::parse(run.out);
    EXPECT_EQ(doc["files_scanned"], 1) << named;
    ASSERT_EQ(doc["detections"].size(), 1u) << named;
    EXPECT_EQ(doc["detections"][0]["file"], worm);
  }
  ScanRun dangling = Scan({"--no-memory", "--no-registry", tree.Path("dangling")});
  EXPECT_EQ(dangling.status, 2);
  EXPECT_NE(dangling.err.find(tree.Path("dangling") + ": a link that leads nowhere"), std::string::npos) << dangling.err;
  // --stdout: the error line goes with the report, as clamscan's does.
  dangling = Scan({"--no-memory", "--no-registry", "--stdout", tree.Path("dangling")});
  EXPECT_NE(dangling.out.find(tree.Path("dangling") + ": a link that leads nowhere"), std::string::npos) << dangling.out;
  EXPECT_EQ(dangling.err.find("leads nowhere"), std::string::npos) << dangling.err;
}
#endif

// -f: the PATHs a file lists, one a line, with those of the command line.
TEST(CliEndToEnd, FileListAddsItsPaths) {
  TempTree tree;
  const auto first = tree.Write("a/w.exe", test::VariantFile(5));
  const auto second = tree.Write("b c/w.exe", test::VariantFile(6));
  const auto third = tree.Write("d/w.exe", test::VariantFile(7));
  const auto list = tree.Write("list.txt", first + "\r\n\n" + tree.Path("b c") + "\n");
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json", "-f", list, third});
  ASSERT_EQ(run.status, 1) << run.err;
  auto doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(doc["files_scanned"], 3);
  EXPECT_EQ(doc["detections"].size(), 3u);
#ifndef _WIN32
  // Only the listed PATHs: no current folder added.
  run = Scan({"--no-memory", "--no-registry", "--json", "--file-list=" + list}, "cd " + Quote(tree.Path("d")) + " &&");
  EXPECT_EQ(nlohmann::json::parse(run.out)["files_scanned"], 2) << run.out;
#endif
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", "-f", tree.Path("missing")}).status, 2);
}

TEST(CliEndToEnd, JsonKeepsNamesThatAreNotUtf8) {
#ifdef _WIN32
  // There only a lone surrogate makes such a name, and Wine's file system, which
  // keeps names as UTF-8, has no form for one.
  GTEST_SKIP() << "no name that is not UTF-8 can be made here";
#endif
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
  EXPECT_NE(run.out.find("\nEngine: databases of 22 Jun 2021, "), std::string::npos) << run.out;
#ifndef _WIN32
  ScanRun piped = Scan({"--no-memory", "--no-registry", "--database", db, "-"}, "exec <" + Quote(eicar) + " &&");
  EXPECT_EQ(piped.status, 1) << piped.err;
  EXPECT_NE(piped.out.find("\nstdin: Eicar-Test-Signature FOUND\n"), std::string::npos) << piped.out;
#endif

  // -V tells the databases by their headers, as clamscan -V does.
  EXPECT_NE(Scan({"-V", "-d", db}).out.find("\nDatabases: main 6 (22 Jun 2021), daily 3 (22 Jun 2021) in " + db),
            std::string::npos);

  ScanRun json = Scan({"--no-memory", "--no-registry", "--json", "--database", db, tree.Path()});
  auto doc = nlohmann::json::parse(json.out);
  EXPECT_TRUE(doc["engine"]["library_loaded"].get<bool>());
  EXPECT_TRUE(doc["engine"]["database_loaded"].get<bool>());
  EXPECT_TRUE(doc["engine"]["active"].get<bool>());
  EXPECT_EQ(doc["engine"]["signatures"], 33);  // as the text says
  EXPECT_EQ(doc["engine"]["engine_signatures"], 17);
  EXPECT_EQ(doc["engine"]["main_version"], "6");
  EXPECT_EQ(doc["engine"]["daily_date"], "22 Jun 2021");
  EXPECT_EQ(doc["not_scanned_whole"].size(), 0u);
  ASSERT_EQ(doc["warnings"].size(), 1u);
  EXPECT_EQ(doc["warnings"][0].get<std::string>().rfind("Engine: databases of 22 Jun 2021, ", 0), 0u);

  // Past the engine's 10 MiB a file is never looked at, and --max-filesize=0
  // lifts only the walk's limit: it is listed and counted, not called clean.
  const std::string big = tree.Write("big/big.bin", std::string(11u << 20, '\0') + "ABC");
  const std::vector<std::string> whole = {"--no-memory", "--no-registry", "--max-filesize=0", "--database", db,
                                          tree.Path("big")};
  ScanRun text = Scan(whole);
  EXPECT_EQ(text.status, 0);
  EXPECT_NE(text.out.find(big + ": NOT SCANNED WHOLE (the engine judges no more than 10485760 bytes of a file)\n"),
            std::string::npos)
      << text.out;
  EXPECT_NE(text.out.find("\nNot scanned whole: 1\n"), std::string::npos) << text.out;
  std::vector<std::string> wholeJson = whole;
  wholeJson.insert(wholeJson.begin(), "--json");
  doc = nlohmann::json::parse(Scan(wholeJson).out);
  ASSERT_EQ(doc["not_scanned_whole"].size(), 1u);
  EXPECT_EQ(doc["not_scanned_whole"][0]["file"], big);
  EXPECT_EQ(doc["not_scanned_whole"][0]["limit"], "maxfilesize");
  EXPECT_EQ(doc["not_scanned_whole"][0]["limit_value"], 10485760);

  // Archives are looked into only with the archive option.
  const fs::path zip = "/usr/share/clamav-testfiles/clam.zip";
  if (!fs::exists(zip)) GTEST_SKIP() << "clamav-testfiles is not installed";
  fs::copy_file(zip, tree.Path("clam.zip"));
  ScanRun withArchive = Scan({"--no-memory", "--no-registry", "--database", db, tree.Path()});
  EXPECT_NE(withArchive.out.find("clam.zip: Clamav.Test.File-6 FOUND"), std::string::npos);
  ScanRun noArchive = Scan({"--no-memory", "--no-registry", "--no-archive", "--database", db, tree.Path()});
  EXPECT_EQ(noArchive.out.find("clam.zip:"), std::string::npos);
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", "--scan-archive=no", "--database", db, tree.Path()}).out.find("clam.zip:"),
            std::string::npos);

  // HTML is parsed only when asked, as the desktop program's option word leaves it.
  const std::string html = tree.MakeDir("html");
  fs::copy_file("/usr/share/clamav-testfiles/clam.exe.html", html + "/clam.exe.html");
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", "--no-cache", "--database", db, html}).status, 0);
  ScanRun parsed = Scan({"--no-memory", "--no-registry", "--no-cache", "--scan-html", "--database", db, html});
  EXPECT_EQ(parsed.status, 1);
  EXPECT_NE(parsed.out.find("clam.exe.html: Clamav.Test.File-6 FOUND"), std::string::npos) << parsed.out;

  // The engine's archive limits, as clamscan sets them.
  const std::string zipped = tree.MakeDir("zipped");
  fs::copy_file(zip, zipped + "/clam.zip");
  for (const auto& [option, alert] : {std::pair<std::string, std::string>{"--max-recursion=1", "MaxRecursion"},
                                      {"--max-files=1", "MaxFiles"}}) {
    ScanRun limited = Scan({"--no-memory", "--no-registry", "--no-cache", option, "--database", db, zipped});
    EXPECT_NE(limited.out.find("clam.zip: Heuristics.Limits.Exceeded." + alert + " FOUND"), std::string::npos)
        << option << limited.out;
  }
}

#ifndef _WIN32
// clamscan's --tempdir: for a /tmp that is slow, or too small for what the engine
// unpacks. The folder must be one no other user can change.
TEST(CliEndToEnd, TheEngineKeepsItsTemporaryFilesInTheTempdirGiven) {
  const std::string shared = test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared signature databases are not there";
  TempTree tree;
  const std::string scanned = tree.Write("files/a.bin", std::string(5000, 'a'));
  const std::string temp = tree.MakeDir("temp");
  ::chmod(temp.c_str(), 0700);
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, temp.c_str(), IN_CREATE), 0);
  const std::vector<std::string> args = {"--no-memory", "--no-registry", "--no-cache", "--tempdir", temp,
                                         "--database", shared + "/engine-test-db", tree.Path("files")};
  ScanRun run = Scan(args);
  EXPECT_EQ(run.status, 0) << run.err;
  alignas(inotify_event) char events[4096];
  EXPECT_GT(::read(watch, events, sizeof events), 0) << "the engine made nothing in " << temp;
  ::close(watch);
  EXPECT_TRUE(fs::is_empty(temp)) << "the engine leaves nothing behind";

  ::chmod(temp.c_str(), 0777);
  run = Scan(args);
  EXPECT_EQ(run.status, 2);
  EXPECT_NE(run.err.find("cannot keep temporary files in " + temp + ": " + temp +
                         " may be written by other users and is not sticky"),
            std::string::npos)
      << run.err;
  EXPECT_EQ(run.out.find("scanned"), std::string::npos) << "nothing is scanned";
}
#endif

#ifndef _WIN32
// TMPDIR is checked as --tempdir is: root's scan makes nothing in a folder another
// user owns, nor below one, and uses a folder of its own.
TEST(CliEndToEnd, TheEngineKeepsItsTemporaryFilesInTmpdirOnlyWhenNoOtherUserCanChangeIt) {
  if (::geteuid() != 0) GTEST_SKIP() << "giving a folder to another user needs root";
  const std::string shared = test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared signature databases are not there";
  TempTree tree;
  tree.Write("files/a.bin", std::string(5000, 'a'));
  const std::string hers = tree.MakeDir("hers");
  const std::string below = tree.MakeDir("hers/root-only");
  ASSERT_EQ(::chown(hers.c_str(), 65534, 65534), 0);
  ASSERT_EQ(::chmod(below.c_str(), 0700), 0);
  const std::vector<std::string> args = {"--no-memory", "--no-registry", "--no-cache", "--database",
                                         shared + "/engine-test-db", tree.Path("files")};
  for (const std::string& tmpdir : {hers, below}) {
    const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, tmpdir.c_str(), IN_CREATE), 0);
    ScanRun run = Scan(args, "TMPDIR=" + Quote(tmpdir));
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_NE(run.err.find("cannot keep temporary files in " + tmpdir + " (TMPDIR): " + hers +
                           " belongs to another user (uid 65534)"),
              std::string::npos)
        << run.err;
    alignas(inotify_event) char events[4096];
    EXPECT_LT(::read(watch, events, sizeof events), 0) << "something was made in " << tmpdir;
    ::close(watch);
  }
  const std::string own = tree.MakeDir("own");
  const int watch = ::inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, own.c_str(), IN_CREATE), 0);
  ScanRun run = Scan(args, "TMPDIR=" + Quote(own));
  EXPECT_EQ(run.status, 0) << run.err;
  alignas(inotify_event) char events[4096];
  EXPECT_GT(::read(watch, events, sizeof events), 0) << "the engine made nothing in " << own;
  ::close(watch);
}
#endif

TEST(CliEndToEnd, DatabasesNamedThatDoNotLoadStopTheScan) {
  TempTree tree;
  tree.Write("only/main.cvd", "ClamAV-VDB:broken");
  const std::string worm = tree.Write("worm.exe", test::VariantFile(8));
  for (bool json : {false, true}) {
    std::vector<std::string> args = {"--no-memory", "--no-registry", "--database", tree.Path("only"), tree.Path()};
    if (json) args.insert(args.begin(), "--json");
    ScanRun run = Scan(args);
    EXPECT_EQ(run.status, 2) << run.out;
    EXPECT_EQ(run.out.find("FOUND"), std::string::npos) << "nothing may be scanned: " << run.out;
    EXPECT_EQ(run.out.find("Brontok"), std::string::npos) << run.out;
    if (!json) {
      EXPECT_NE(run.out.find("Database NOT loaded.\n"), std::string::npos) << run.out;
    }
#ifndef _WIN32  // standard error is not kept there
    EXPECT_NE(run.err.find("korbu-scan: the databases of " + tree.Path("only") + " did not load: database folder \"" +
                           tree.Path("only") + "/\": daily.cvd or daily.cld is missing"),
              std::string::npos)
        << run.err;
#endif
  }
  // Without --database the engine stays off and the own detection scans.
  ScanRun own = Scan({"--no-memory", "--no-registry", "--no-engine", "--json", tree.Path()});
  EXPECT_EQ(own.status, 1);
  EXPECT_FALSE(nlohmann::json::parse(own.out)["engine"]["active"].get<bool>());
}

#ifndef _WIN32
// The files of the detections of a JSON report, sorted.
std::vector<std::string> DetectedFiles(const nlohmann::json& doc) {
  std::vector<std::string> files;
  for (const auto& row : doc["detections"]) files.push_back(row["file"]);
  std::sort(files.begin(), files.end());
  return files;
}

// Relative odd names, as a shell user types them: none may be read as the walk's
// criteria list (";" splits, "<" takes away the subfolders, blanks are trimmed).
// A named file is judged whatever its name; decoys sit where a misreading leads.
#ifndef _WIN32  // standard error is not kept there
// An engine left off says why, in text and in JSON, and the own detection scans.
TEST(CliEndToEnd, AnEngineNotStartedSaysWhyAndTheOwnDetectionScans) {
  TempTree tree;
  tree.Write("files/worm.exe", test::VariantFile(8));
  const std::string reason = "the databases were not loaded, as asked";
  for (bool json : {false, true}) {
    std::vector<std::string> args = {"--no-memory", "--no-registry", "--no-cache", "--no-engine", tree.Path("files")};
    if (json) args.insert(args.begin(), "--json");
    ScanRun run = Scan(args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(run.err.find("korbu-scan: engine not loaded: " + reason + "\n"), std::string::npos) << run.err;
    if (json) {
      const nlohmann::json doc = nlohmann::json::parse(run.out);
      EXPECT_EQ(doc["engine"]["not_loaded_reason"], reason);
      EXPECT_FALSE(doc["engine"]["database_loaded"].get<bool>());
    } else {
      EXPECT_NE(run.out.find("Database NOT loaded.\n"), std::string::npos) << run.out;
      EXPECT_NE(run.out.find("FOUND"), std::string::npos) << run.out;
    }
  }
}
#endif

TEST(CliEndToEnd, PathsAreTakenLiterallySeveralInOrderAndFilesWhateverTheirName) {
  TempTree tree;
  const auto semi = tree.Write("a;b/w.exe", test::VariantFile(1));
  const auto blank = tree.Write(" lead/w.exe", test::VariantFile(2));
  const auto lt = tree.Write("<lt/sub/w.exe", test::VariantFile(3));
  const auto named = tree.Write("f/readme.txt", test::VariantFile(4));
  tree.Write("a/decoy.exe", test::VariantFile(5));
  tree.Write("b/decoy.exe", test::VariantFile(5));
  tree.Write("lead/decoy.exe", test::VariantFile(5));
  tree.Write("lt/decoy.exe", test::VariantFile(5));
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json", "--program-files-only", "a;b", " lead", "<lt",
                      "f/readme.txt"},
                     "cd " + Quote(tree.Path()) + " &&");
  ASSERT_EQ(run.status, 1) << run.err;
  auto doc = nlohmann::json::parse(run.out);
  EXPECT_EQ(DetectedFiles(doc), (std::vector<std::string>{blank, lt, semi, named}));
  EXPECT_EQ(doc["files_scanned"], 4);
  EXPECT_EQ(doc["folders_scanned"], 4);  // "<lt" and its subfolder
  EXPECT_TRUE(doc["errors"].empty());
}

// Tests run as root, who reads everything: the scan runs as "nobody" then.
TEST(CliEndToEnd, WhatCannotBeReadIsAnErrorNamedOnStderrAndInJson) {
  std::string asUser;
  if (::geteuid() == 0) {
    if (!fs::exists("/usr/bin/setpriv")) GTEST_SKIP() << "running as root and setpriv is not there to drop it";
    asUser = "setpriv --reuid=nobody --regid=nogroup --clear-groups";
  }
  TempTree tree;
  fs::permissions(tree.Path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                   fs::perms::others_read | fs::perms::others_exec);
  tree.Write("ok.txt", "fine");
  const auto secret = tree.Write("secret.exe", test::VariantFile(6));
  fs::permissions(secret, fs::perms::owner_read | fs::perms::owner_write);
  const auto locked = tree.Write("locked/w.exe", test::VariantFile(6));
  fs::permissions(tree.Path("locked"), fs::perms::owner_all);
  ScanRun run = Scan({"--no-memory", "--no-registry", tree.Path()}, asUser);
  EXPECT_EQ(run.status, 2) << run.out << run.err;
  EXPECT_NE(run.err.find(tree.Path("locked") + "/: Permission denied ERROR\n"), std::string::npos) << run.err;
  EXPECT_NE(run.err.find(secret + ": Permission denied ERROR\n"), std::string::npos) << run.err;
  EXPECT_NE(run.out.find("Errors: 2\n"), std::string::npos) << run.out;

  ScanRun json = Scan({"--no-memory", "--no-registry", "--json", tree.Path("missing"), tree.Path()}, asUser);
  EXPECT_EQ(json.status, 2);
  auto doc = nlohmann::json::parse(json.out);
  ASSERT_EQ(doc["errors"].size(), 3u) << json.out;
  EXPECT_EQ(doc["errors"][0]["file"], tree.Path("missing"));
  EXPECT_EQ(doc["errors"][1]["file"], secret);  // a folder's files come before its subfolders
  EXPECT_EQ(doc["errors"][2]["file"], tree.Path("locked") + "/");
  EXPECT_EQ(doc["errors"][2]["error"], "Permission denied");
  // What could not be opened is no scanned file and no data read, but a skip.
  EXPECT_EQ(doc["files_scanned"], 1);
  EXPECT_EQ(doc["skipped"]["unreadable"], 1);
  EXPECT_EQ(doc["data_read"], 4);
}

// The limit holds for the whole size: a sparse file of 4 GiB and 100 bytes is not
// a file of 100 bytes.
TEST(CliEndToEnd, SizeLimitComparesTheWholeSize) {
  TempTree tree;
  tree.Write("a.bin", std::string(1024, 'a'));
  const auto big = tree.Write("b.bin", std::string(1025, 'b'));
  const auto sparse = tree.Write("huge.bin", "");
  fs::resize_file(sparse, (std::uintmax_t{1} << 32) + 100);
  ScanRun byDefault = Scan({"--no-memory", "--no-registry", "--json", tree.Path()});
  auto doc = nlohmann::json::parse(byDefault.out);
  EXPECT_EQ(doc["files_scanned"], 2);
  EXPECT_EQ(doc["skipped"]["over_size_limit"], 1);
  ScanRun limited = Scan({"--no-memory", "--no-registry", "--json", "--max-filesize", "1K", tree.Path()});
  doc = nlohmann::json::parse(limited.out);
  EXPECT_EQ(doc["files_scanned"], 1);
  EXPECT_EQ(doc["skipped"]["over_size_limit"], 2);
  // A named file over the limit is a skip as in a walk, counted, and no error.
  ScanRun named = Scan({"--no-memory", "--no-registry", "--max-filesize=1K", big});
  EXPECT_EQ(named.status, 0) << named.out << named.err;
  EXPECT_NE(named.out.find("\nSkipped: 1 over the size limit, 0 excluded, 0 pseudo file system folder(s), 0 unreadable\n"),
            std::string::npos)
      << named.out;
}
#endif

#ifndef _WIN32
// A made-up file system is passed over and counted, while a tmpfs mounted in it
// (as /dev/shm is in /dev) is walked: in a mount namespace of the test's own.
TEST(CliEndToEnd, PseudoFileSystemsAreCountedAndRealOnesBelowThemWalked) {
  if (::geteuid() != 0) GTEST_SKIP() << "mounting needs root";
  if (std::system("unshare -m true 2>/dev/null") != 0) GTEST_SKIP() << "no private mount namespace here";
  TempTree tree;
  tree.Write("top/a.txt", "plain");
  const std::string worm = tree.Write("worm.exe", test::VariantFile(3));
  const std::string proc = tree.MakeDir("top/proc");
  const std::string mounts = "mount --make-rprivate / && mount -t proc proc " + Quote(proc) + " && mount -t tmpfs shm " +
                             Quote(proc + "/fs") + " && cp " + Quote(worm) + " " + Quote(proc + "/fs/w.exe") + " && ";
  // The command's own "env" runs as the shell's $0.
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json", tree.Path("top")},
                     "unshare -m sh -c " + Quote(mounts + "exec \"$0\" \"$@\""));
  ASSERT_EQ(run.status, 1) << run.out << run.err;
  auto doc = nlohmann::json::parse(run.out);
  ASSERT_EQ(doc["detections"].size(), 1u);
  EXPECT_EQ(doc["detections"][0]["file"], proc + "/fs/w.exe");
  EXPECT_EQ(doc["files_scanned"], 2);
  EXPECT_EQ(doc["skipped"]["pseudo_file_system_folders"], 1);
}
#endif

TEST(CliEndToEnd, LogFileGetsTheTextReportAndExclusionsSkip) {
  TempTree tree;
  const auto keep = tree.Write("keep/w.exe", test::VariantFile(7));
  tree.Write("skip/w.exe", test::VariantFile(7));
  tree.Write("keep/w3.exe", test::VariantFile(7));
  const std::string log = tree.Path("report.log");
  const std::vector<std::string> common = {"--no-memory", "--no-registry", "--exclude-dir", "skip$",
                                           "--exclude", "w3\\.exe$", "-l", log, tree.Path()};
  ScanRun run = Scan(common);
  EXPECT_EQ(run.status, 1);
  const std::string found = keep + ": Brontok-12B FOUND\n";
  EXPECT_NE(run.out.find(found), std::string::npos) << run.out;
  EXPECT_EQ(run.out.find("skip"), std::string::npos);
  EXPECT_EQ(run.out.find("w3.exe"), std::string::npos);
  EXPECT_NE(run.out.find("Detections: 1\n"), std::string::npos);
  EXPECT_NE(run.out.find("\nSkipped: 0 over the size limit, 2 excluded, "), std::string::npos) << run.out;
  // The log is a text file: Windows ends its lines as it ends those of the output.
  const auto logText = [&] {
    std::string text = test::ReadFileBytes(log);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
  };
  // Each run's text after a separator of its own.
  const std::string separator = "\n-------------------------------------------------------------------------------\n\n";
  EXPECT_EQ(logText(), separator + run.out);
  EXPECT_NE(run.out.find("\nStart Date: "), std::string::npos) << run.out;

  std::vector<std::string> quiet = common;
  quiet.insert(quiet.begin(), "--quiet");
  ScanRun second = Scan(quiet);
  EXPECT_EQ(second.out, found);
  EXPECT_EQ(logText(), separator + run.out + separator + found);  // appended
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", "--exclude", "(", tree.Path()}).status, 2);
}

// As clamscan: folders are named without their separator, and the folders and
// files named on the command line are filtered like those the walk meets.
TEST(CliEndToEnd, ExclusionsApplyAsClamscanAppliesThem) {
  TempTree tree;
  tree.Write("top/sub/w.exe", test::VariantFile(3));
  const auto kept = tree.Write("top/keep/w.exe", test::VariantFile(3));
  const auto named = tree.Write("top/a.exe", test::VariantFile(4));
  const auto files = [&](const std::vector<std::string>& args) {
    std::vector<std::string> all = {"--no-memory", "--no-registry", "--json"};
    all.insert(all.end(), args.begin(), args.end());
    ScanRun run = Scan(all);
    EXPECT_LE(run.status, 1) << run.err;
    return nlohmann::json::parse(run.out)["files_scanned"].get<int>();
  };
  EXPECT_EQ(files({"--exclude-dir", "sub$", tree.Path("top")}), 2);
  EXPECT_EQ(files({"--exclude-dir=top$", tree.Path("top")}), 0);
  EXPECT_EQ(files({"--include-dir=keep$", tree.Path("top")}), 0);  // top itself is not "keep"
  EXPECT_EQ(files({"--exclude", "a\\.exe$", named, kept}), 1);
  EXPECT_EQ(files({"--include", "a\\.exe$", named, kept}), 1);
  EXPECT_EQ(files({"--exclude-dir", "top", named}), 1);  // a named file is no folder
}

#ifndef _WIN32
// Ctrl-C in the middle of the walk: one whole JSON document says what was done.
TEST(CliEndToEnd, InterruptedJsonScanStillReportsWhatWasDoneAndEndsByTheSignal) {
  TempTree tree;
  const auto worm = tree.Write("worm.exe", test::VariantFile(9));  // reported before any subfolder
  constexpr int kFolders = 40, kFiles = 250;
  for (int d = 0; d < kFolders; ++d) {
    for (int f = 0; f < kFiles; ++f) tree.Write("d" + std::to_string(d) + "/" + std::to_string(f), "x");
  }
  for (int signal : {SIGINT, SIGTERM}) {
    const std::string log = tree.Path("log" + std::to_string(signal));
    const std::string out = tree.Path("out.json");
    const pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      std::FILE* redirected = std::freopen(out.c_str(), "w", stdout);
      if (redirected == nullptr) ::_exit(99);
      ::setenv("WINEPREFIX", "/nonexistent-prefix", 1);
      // Patterns that made the old matcher backtrack for minutes on each path.
      ::execl(KORBU_SCAN_EXE, KORBU_SCAN_EXE, "--no-memory", "--no-registry", "--json", "-l", log.c_str(),
              "--exclude-dir=^(.*/)*node_modules/$", "--exclude=(.*)*#", tree.Path().c_str(),
              static_cast<char*>(nullptr));
      ::_exit(98);
    }
    // The detection is logged as soon as it is found: the walk is under way then.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (test::ReadFileBytes(log).find("FOUND") == std::string::npos &&
           std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, signal);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    // The shell sees 128 + the signal: a loop over folders can tell.
    ASSERT_TRUE(WIFSIGNALED(status)) << "exited with " << WEXITSTATUS(status);
    EXPECT_EQ(WTERMSIG(status), signal);
    auto doc = nlohmann::json::parse(test::ReadFileBytes(out));
    EXPECT_TRUE(doc["interrupted"].get<bool>());
    EXPECT_EQ(DetectedFiles(doc), std::vector<std::string>{worm});
    EXPECT_LT(doc["files_scanned"].get<int>(), kFolders * kFiles);
    const std::string logText = test::ReadFileBytes(log);
    EXPECT_NE(logText.find("Scan stopped by user.\n"), std::string::npos);
    EXPECT_EQ(logText.find("Scan is finished"), std::string::npos) << logText;
  }
}

TEST(CliEndToEnd, NoPathScansTheCurrentFolder) {
  TempTree tree;
  const auto worm = tree.Write("here/w.exe", test::VariantFile(5));
  ScanRun run = Scan({"--no-memory", "--no-registry", "--json"}, "cd " + Quote(tree.Path("here")) + " &&");
  ASSERT_EQ(run.status, 1) << run.err;
  EXPECT_EQ(DetectedFiles(nlohmann::json::parse(run.out)), std::vector<std::string>{worm});
  // An option that took the only PATH as its value scans nothing.
  ScanRun swallowed = Scan({"--no-memory", "--no-registry", "--exclude-dir", tree.Path("here")},
                           "cd " + Quote(tree.Path("here")) + " &&");
  EXPECT_EQ(swallowed.status, 2);
  EXPECT_EQ(swallowed.out, "");
}

// "-" is standard input, judged by the own detection (and the engine, see the
// engine's test) and listed as "stdin"; an action never takes that for a file.
TEST(CliEndToEnd, DashScansStandardInput) {
  TempTree tree;
  const auto input = tree.Write("input", test::VariantFile(11));
  const auto bystander = tree.Write("cwd/stdin", "a file that happens to be called so");
  const std::string from = "cd " + Quote(tree.Path("cwd")) + " && exec <" + Quote(input) + " && XDG_DATA_HOME=" +
                           Quote(tree.Path("data"));
  ScanRun run = Scan({"--no-memory", "--no-registry", "--delete", "-"}, from);
  EXPECT_EQ(run.status, 1) << run.err;
  EXPECT_NE(run.out.find("\nstdin: Brontok-16B FOUND\n"), std::string::npos) << run.out;
  EXPECT_NE(run.err.find("stdin: standard input is no file: there is nothing to clean or delete ERROR\n"),
            std::string::npos)
      << run.err;
  EXPECT_NE(run.out.find("Errors: 1\n"), std::string::npos) << run.out;
  EXPECT_TRUE(fs::exists(bystander));

  ScanRun limited = Scan({"--no-memory", "--no-registry", "--json", "--max-filesize=32", "-"}, from);
  EXPECT_EQ(limited.status, 0) << limited.err;
  EXPECT_EQ(nlohmann::json::parse(limited.out)["skipped"]["over_size_limit"], 1);
}

// Every command says when its output was lost.
TEST(CliEndToEnd, OutputThatCannotBeWrittenExitsTwo) {
  if (!fs::exists("/dev/full")) GTEST_SKIP() << "no /dev/full here";
  TempTree tree;
  const std::string full = "XDG_DATA_HOME=" + Quote(tree.Path("data")) + " exec >/dev/full &&";
  EXPECT_EQ(Scan({"--help"}, full).status, 2);
  EXPECT_EQ(Scan({"--version"}, full).status, 2);
  EXPECT_EQ(Scan({"--history"}, full).status, 2);
  EXPECT_EQ(Scan({"--no-memory", "--no-registry", tree.Path()}, full).status, 2);

  // A pipe nobody reads any more (korbu-scan | head) is such an output too: status
  // 2, not death by SIGPIPE.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"--help"}, {"--no-memory", "--no-registry", tree.Path()}}) {
    int fds[2];
    ASSERT_EQ(::pipe(fds), 0);
    ::close(fds[0]);
    std::vector<std::string> texts{KORBU_SCAN_EXE};
    texts.insert(texts.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (std::string& text : texts) argv.push_back(text.data());
    argv.push_back(nullptr);
    std::string prefix = "WINEPREFIX=" + tree.Path("no-prefix");
    std::string data = "XDG_DATA_HOME=" + tree.Path("data");
    std::string cache = "XDG_CACHE_HOME=" + tree.Path("cache");
    char* envp[] = {prefix.data(), data.data(), cache.data(), nullptr};
    const pid_t child = ::fork();
    if (child == 0) {
      ::dup2(fds[1], 1);
      ::execve(argv[0], argv.data(), envp);
      ::_exit(127);
    }
    ::close(fds[1]);
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status)) << args[0] << ": killed by signal " << WTERMSIG(status);
    EXPECT_EQ(WEXITSTATUS(status), 2) << args[0];
  }
}
#endif

}  // namespace
}  // namespace korbu::cli
