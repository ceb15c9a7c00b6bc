// korbu-scan's --clean, --delete and --dry-run: the row step in process, and the
// real program over a handwritten Wine prefix.
#include <gtest/gtest.h>
// Both cases work on a handwritten Wine prefix: POSIX only. The Windows clean of a
// real prefix is tested in the Windows tests.
#ifndef _WIN32
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <sstream>

#include "cli/CliActions.h"
#include "support/CrcForge.h"
#include "support/NobodysFiles.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/WinePrefixFixture.h"
#include "platform/SystemFactory.h"

namespace korbu::cli {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;

struct Infected {
  test::WinePrefixFixture prefix;
  test::TempTree home;
  test::ScopedEnvironment data{"XDG_DATA_HOME", home.Path("data")};
  std::string worm = prefix.WriteC("scan/worm.exe", test::VariantFile(1));
  std::string other = prefix.WriteC("scan/other.com", "x");
  std::string autoexec = prefix.WriteC("autoexec.bat", "pause");
};

DetectionList Rows(const Infected& system) {
  DetectionList rows;
  rows.AddDetection(system.worm, "Brontok-1");
  rows.AddDetection(system.other, "Eicar-Test-Signature");
  return rows;
}

// The rows' lines, without the changes listed under each and the last line that
// names the action's record.
std::string RowLines(const std::string& out) {
  const std::size_t record = out.rfind("Recorded as action ");
  EXPECT_NE(record, std::string::npos) << out;
  std::istringstream lines(out.substr(0, record));
  std::string rows, line;
  while (std::getline(lines, line)) {
    if (line.rfind("  ", 0) != 0) rows += line + "\n";
  }
  return rows;
}

// The rows an action leaves, as the program counts them among its errors.
struct Errors {
  std::vector<ScanError> list;
  std::function<void(const ScanError&)> Sink() {
    return [this](const ScanError& e) { list.push_back(e); };
  }
};

TEST(CliActions, CleanPrintsEachRowAndARowItLeavesIsAnError) {
  Infected system;
  DetectionList rows = Rows(system);
  std::ostringstream out;
  Errors errors;
  RunRowAction(Action::Clean, false, platform::DefaultWindowsSystem(), rows, out, errors.Sink());
  EXPECT_EQ(RowLines(out.str()), system.worm + ": Brontok-1 FOUND (This object was cleaned!)\n" + system.other +
                                     ": Eicar-Test-Signature FOUND\n");
  ASSERT_EQ(errors.list.size(), 1u);
  EXPECT_EQ(errors.list[0].file, system.other);
  EXPECT_EQ(errors.list[0].reason, "not of the Brontok family: Clean leaves it, Delete removes it");
  // Each change made is told under its row, as a dry run tells it.
  EXPECT_NE(out.str().find("  delete " + system.worm + "\n"), std::string::npos) << out.str();
  EXPECT_NE(out.str().find("  delete " + system.autoexec + "\n"), std::string::npos) << out.str();
  EXPECT_FALSE(fs::exists(system.worm));
  EXPECT_FALSE(fs::exists(system.autoexec));
  EXPECT_TRUE(fs::exists(system.other));

  std::ostringstream deleted;
  Errors none;
  RunRowAction(Action::Delete, false, platform::DefaultWindowsSystem(), rows, deleted, none.Sink());
  EXPECT_EQ(RowLines(deleted.str()), system.other + ": Eicar-Test-Signature FOUND (This object was deleted!)\n");
  EXPECT_TRUE(none.list.empty());
  EXPECT_FALSE(fs::exists(system.other));
}

// When the journal cannot be written nothing changes, and every row says so
// rather than blaming its file.
TEST(CliActions, ARefusedJournalIsTheCauseOfEachRow) {
  Infected system;
  system.home.Write("data", "a file where the data folder would be");
  DetectionList rows = Rows(system);
  rows.AddDetection("stdin", "Brontok-1");
  std::ostringstream out;
  Errors errors;
  const auto reasons = RunRowAction(Action::Delete, false, platform::DefaultWindowsSystem(), rows, out, errors.Sink()).reasons;
  ASSERT_EQ(errors.list.size(), 3u) << out.str();
  EXPECT_EQ(errors.list[0].file, "stdin");  // never acted on: it names no file
  EXPECT_EQ(errors.list[0].reason, "standard input is no file: there is nothing to clean or delete");
  for (std::size_t i = 1; i < 3; ++i) {
    EXPECT_EQ(errors.list[i].reason.rfind("changes refused: ", 0), 0u) << errors.list[i].reason;
  }
  EXPECT_EQ(reasons[0], errors.list[1].reason);
  EXPECT_TRUE(fs::exists(system.worm));
  EXPECT_TRUE(fs::exists(system.other));
}

std::string Quote(const std::string& arg) {
  std::string q = "'";
  for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// asUser: shell words the program is run through; the errors then go with the output.
int RunScan(const std::vector<std::string>& args, std::string& out, const std::string& asUser = {}) {
  std::string command = asUser.empty() ? Quote(KORBU_SCAN_EXE) : asUser + " " + Quote(KORBU_SCAN_EXE);
  for (const auto& a : args) command += " " + Quote(a);
  command += asUser.empty() ? " 2>/dev/null </dev/null" : " 2>&1 </dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (pipe == nullptr) return -1;
  char buffer[4096];
  std::size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) out.append(buffer, n);
  const int status = ::pclose(pipe);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST(CliActions, TheProgramCleansAndReportsTheRowsAsTheyStand) {
  Infected system;
  const std::string folder = system.prefix.DriveC("scan");
  // A byte order mark: the dry run reads the value the clean would replace.
  const std::string ini = system.prefix.WriteC("windows/system.ini", "\xEF\xBB\xBF[boot]\r\nshell=Explorer.exe csrss.exe\r\n");
  const std::string before = system.prefix.Snapshot();
  std::string dry;
  EXPECT_EQ(RunScan({"--no-memory", "--no-registry", "--no-engine", "--clean", "--dry-run", folder}, dry), 1);
  EXPECT_EQ(system.prefix.Snapshot(), before);
  EXPECT_NE(dry.find("  would delete " + system.worm + "\n"), std::string::npos) << dry;
  EXPECT_NE(dry.find("  would delete " + system.autoexec + "\n"), std::string::npos) << dry;
  EXPECT_NE(dry.find("DisableTaskMgr: (none) -> dword:0"), std::string::npos) << dry;
  EXPECT_NE(dry.find(ini + " [boot] shell: \"Explorer.exe csrss.exe\" -> \"Explorer.exe\"\n"), std::string::npos) << dry;
  EXPECT_NE(dry.find("  not handled: dry run: nothing was changed\n"), std::string::npos) << dry;
  EXPECT_FALSE(fs::exists(system.home.Path("data")));

  std::string json;
  EXPECT_EQ(RunScan({"--no-memory", "--no-registry", "--no-engine", "--clean", "--json", folder}, json), 1);
  const auto doc = nlohmann::json::parse(json);
  EXPECT_EQ(doc["action"], "clean");
  ASSERT_EQ(doc["detections"].size(), 1u);
  EXPECT_EQ(doc["detections"][0]["file"], system.worm);
  EXPECT_EQ(doc["detections"][0]["information"], "This object was cleaned!");
  EXPECT_FALSE(doc["action_id"].get<std::string>().empty());
  const auto& changes = doc["detections"][0]["changes"];
  EXPECT_NE(std::find(changes.begin(), changes.end(), "delete " + system.worm), changes.end()) << changes;
  EXPECT_GT(changes.size(), 16u);
  EXPECT_FALSE(fs::exists(system.worm));
  EXPECT_FALSE(fs::exists(system.autoexec));
}

// A worm file that both the file step ("*Bron*.*" below the local application
// data) and the folder step ("*bron*" in it) match goes to the Trash once, so the
// dry run plans it once; a hosts file that already holds the one line, with its
// line end, is no change.
TEST(CliActions, TheDryRunPlansEachChangeOnce) {
  Infected system;
  const std::string both = system.prefix.WriteC("users/tester/AppData/Local/Brontok.exe", "x");
  const std::string inner = system.prefix.WriteC("users/tester/AppData/Local/bronfolder/Bron.dat", "x");
  const std::string hosts = system.prefix.WriteC("windows/system32/drivers/etc/hosts", "127.0.0.1\tlocalhost\r\n");
  std::string dry;
  EXPECT_EQ(RunScan({"--no-memory", "--no-registry", "--no-engine", "--clean", "--dry-run", system.prefix.DriveC("scan")},
                    dry),
            1);
  const std::string line = "  would move to trash " + both + "\n";
  const std::size_t first = dry.find(line);
  ASSERT_NE(first, std::string::npos) << dry;
  EXPECT_EQ(dry.find(line, first + 1), std::string::npos) << dry;
  // Different items, each planned: the file inside, then its folder.
  EXPECT_NE(dry.find("  would move to trash " + inner + "\n"), std::string::npos) << dry;
  EXPECT_NE(dry.find("  would move to trash " + fs::path(inner).parent_path().string() + "\n"), std::string::npos) << dry;
  EXPECT_EQ(dry.find(hosts), std::string::npos) << dry;

  system.prefix.WriteC("windows/system32/drivers/etc/hosts", "127.0.0.1 localhost\n10.0.0.9 update.example\n");
  dry.clear();
  RunScan({"--no-memory", "--no-registry", "--no-engine", "--clean", "--dry-run", system.prefix.DriveC("scan")}, dry);
  EXPECT_NE(dry.find(hosts), std::string::npos) << dry;
}

std::string Utf16(std::string_view text) {
  std::string wide;
  for (char c : text) wide += std::string{c, '\0'};
  return wide;
}

// The cleaning user may not change one part of the system (root's files in a
// prefix of "nobody"): the row is no error of the scan but not cleaned either,
// and says which part and why; the rest is repaired.
TEST(CliActions, ARepairRefusedInPartLeavesTheRowPendingWithItsReason) {
  if (::geteuid() != 0) GTEST_SKIP() << "files the cleaning user may not change need root to arrange";
  const std::string asNobody = test::AsNobodyPrefix();
  if (asNobody.empty()) GTEST_SKIP() << "setpriv is not there to run korbu-scan as nobody";
  struct Case {
    const char* refused;
    std::function<void(const Infected&)> arrange;
    std::function<std::string(const Infected&)> reasonStart;
  };
  const std::vector<Case> cases = {
      {"system.ini",
       [](const Infected& s) {
         ASSERT_TRUE(test::KeepForRoot(s.prefix.WindowsFolder() + "/system.ini", 0644));
         ASSERT_TRUE(test::KeepForRoot(s.prefix.WindowsFolder(), 01777));
       },
       [](const Infected&) { return std::string("the repair could not set system.ini [boot] shell: "); }},
      {"hosts",
       [](const Infected& s) {
         ASSERT_TRUE(test::KeepForRoot(s.prefix.SystemFolder() + "/drivers/etc/hosts", 0644));
         ASSERT_TRUE(test::KeepForRoot(s.prefix.SystemFolder() + "/drivers/etc", 0755));
       },
       [](const Infected& s) { return "the repair could not reset " + s.prefix.SystemFolder() + "/drivers/etc/hosts: "; }},
      {"Tasks",
       [](const Infected& s) { ASSERT_TRUE(test::KeepForRoot(s.prefix.WindowsFolder() + "/Tasks", 0755)); },
       [](const Infected& s) { return "the repair could not delete " + s.prefix.WindowsFolder() + "/Tasks/worm.job: "; }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.refused);
    Infected system;
    system.prefix.WriteC("windows/system.ini", "[boot]\r\nshell=Explorer.exe csrss.exe\r\n");
    const std::string hosts = system.prefix.WriteC("windows/system32/drivers/etc/hosts", "10.0.0.1 bank\n");
    const std::string task =
        system.prefix.WriteC("windows/Tasks/worm.job", Utf16("Documents and Settings") + Utf16("\\Bro"));
    fs::create_directories(system.home.Path("data"));
    for (const std::string& root : {system.prefix.Folder(), system.home.Path()}) ASSERT_TRUE(test::GiveToNobody(root));
    c.arrange(system);
    std::string json;
    EXPECT_EQ(RunScan({"--no-memory", "--no-registry", "--no-engine", "--clean", "--json", system.prefix.DriveC("scan")},
                      json, asNobody),
              1);
    const std::size_t start = json.find('{');
    ASSERT_NE(start, std::string::npos) << json;
    const auto doc = nlohmann::json::parse(json.substr(start));
    ASSERT_EQ(doc["detections"].size(), 1u) << json;
    const auto& row = doc["detections"][0];
    EXPECT_EQ(row["information"], "") << row;
    ASSERT_TRUE(row.contains("reason")) << row;
    EXPECT_TRUE(row["reason"].get<std::string>().starts_with(c.reasonStart(system))) << row["reason"];
    // Nothing else is lost: the worm and every step not refused are done.
    EXPECT_FALSE(fs::exists(system.worm));
    EXPECT_FALSE(fs::exists(system.autoexec));
    const bool iniRepaired = ReadFileBytes(system.prefix.WindowsFolder() + "/system.ini").find("shell=Explorer.exe\r\n") !=
                             std::string::npos;
    EXPECT_EQ(iniRepaired, std::string(c.refused) != "system.ini");
    EXPECT_EQ(ReadFileBytes(hosts) == "127.0.0.1\tlocalhost", std::string(c.refused) != "hosts");
    EXPECT_EQ(fs::exists(task), std::string(c.refused) == "Tasks");
  }
}

}  // namespace
}  // namespace korbu::cli
#endif  // _WIN32
