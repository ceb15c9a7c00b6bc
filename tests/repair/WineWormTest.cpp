// Stand-in worms running under Wine in two fresh prefixes, each writing its
// values every half second, Run values with names no export can carry among them.
// A scan from the first prefix lists both worms and the Run values of each prefix;
// one Clean stops them and repairs each prefix as Wine sees it, for good, while
// the user's other program and Run value stay.
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
#include "platform/Processes.h"
#include "platform/Registry.h"
#include "repair/JournalSink.h"
#include "repair/RowActions.h"
#include "repair/Undo.h"
#include "scan/MemoryScan.h"
#include "scan/RegistryScan.h"
#include "services/ProcList.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"
#include "support/WineCallCounter.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr const char* kRun = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";  // as the scan names it
// The names the stand-in writes (WTF-8: a lone surrogate, a zero unit).
const std::vector<std::string> kWormValues = {"Bron-Spizaetus", "Bron\\Tok", "Tok\xe4\xb8\xad\xe6\x96\x87",
                                              "Bron\xed\xa0\x80", std::string("Bron\0Nul", 8)};

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

// What a prefix's registry holds where the worm and its repair write, as this
// program reads it: through Wine while its server runs (one start), else from the
// files Wine saved.
struct Repaired {
  std::vector<std::string> runNames;
  std::string disableTaskMgr;  // data, empty when absent
  std::string exeOpen;         // data of exefile's open command
};

Repaired ReadRepaired(const std::string& prefix) {
  const auto system = platform::OpenOrUnreachable(platform::WindowsSystemRef::Prefix(prefix));
  constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
  constexpr const char* kExeOpen = "Software\\Classes\\exefile\\shell\\open\\command";
  platform::RegistryBatch batch;
  (void)system->Prefetch({{HKEY_CURRENT_USER, kRunKey}, {HKEY_CURRENT_USER, kPolicies}, {HKEY_LOCAL_MACHINE, kExeOpen}});
  Repaired read;
  if (auto key = system->OpenKey(HKEY_CURRENT_USER, kRunKey, platform::KeyAccess::Read))
    if (auto values = key->EnumValues())
      for (const platform::RegistryValue& value : *values) read.runNames.push_back(value.name);
  const auto data = [&](platform::RootKey root, const char* key, const char* name) {
    auto opened = system->OpenKey(root, key, platform::KeyAccess::Read);
    auto value = opened ? opened->QueryValue(name) : Expected<platform::RegistryValue>(Failure("no key"));
    return value ? value->data : std::string();
  };
  read.disableTaskMgr = data(HKEY_CURRENT_USER, kPolicies, "DisableTaskMgr");
  read.exeOpen = data(HKEY_LOCAL_MACHINE, kExeOpen, "");
  return read;
}

class WineWorm : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveWine() || std::string(KORBU_STAND_IN_WORM).empty()) return;
    // Only the programs this test starts count, whatever else runs on the machine.
    platform::LimitSnapshotsToDescendants();
    tree_ = new test::TempTree();
    prefixes_[0] = tree_->Path("a");
    prefixes_[1] = tree_->Path("b");
    booted_ = std::system((Env(0) + "wineboot -i >/dev/null 2>&1; " + Env(0) + "wineserver -w").c_str()) == 0 &&
              fs::exists(prefixes_[0] + "/user.reg");
    // The second prefix is a copy of the first, made while no server runs.
    booted_ = booted_ && std::system(("cp -a '" + prefixes_[0] + "' '" + prefixes_[1] + "'").c_str()) == 0;
  }
  static void TearDownTestSuite() {
    if (tree_ != nullptr) {
      for (int i = 0; i < 2; ++i) std::system((Env(i) + "wineserver -k >/dev/null 2>&1; " + Env(i) + "wineserver -w").c_str());
    }
    delete tree_;
    tree_ = nullptr;
  }
  void SetUp() override {
    if (!HaveWine()) GTEST_SKIP() << "Wine is not installed";
    if (std::string(KORBU_STAND_IN_WORM).empty()) GTEST_SKIP() << "no MinGW-w64 to build the stand-in worm";
    if (!booted_) GTEST_SKIP() << "wineboot could not make a prefix";
  }

  static std::string Env(int i) { return "WINEPREFIX='" + prefixes_[i] + "' WINEDEBUG=-all "; }
  // Starts a Windows program of a prefix in the background.
  static void Start(int i, const std::string& windowsPath, const std::string& argument = {}) {
    std::system((Env(i) + "wine '" + windowsPath + "' " + argument + " >/dev/null 2>&1 &").c_str());
  }
  // Once more when Wine could not start its own reg tool (a server on its way
  // out, once in a CI run): what is checked is the registry, not that start.
  static std::string Query(int i, const std::string& key) {
    const std::string command = Env(i) + "wine reg query '" + key + "' 2>&1";
    std::string out = Output(command);
    if (out.find("ShellExecuteEx failed") == std::string::npos) return out;
    std::this_thread::sleep_for(std::chrono::seconds(1));
    return Output(command);
  }

  static inline test::TempTree* tree_ = nullptr;
  static inline std::string prefixes_[2];
  static inline bool booted_ = false;
};

TEST_F(WineWorm, OneCleanStopsTheWormsOfTwoPrefixesAndRepairsEachForGood) {
  std::ifstream in(KORBU_STAND_IN_WORM, std::ios::binary);
  const std::string program((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  ASSERT_FALSE(program.empty());
  // The worm's copies get the checksum of a variant; the idle copy stays unknown.
  for (int i = 0; i < 2; ++i)
    std::ofstream(prefixes_[i] + "/drive_c/windows/bronworm.exe", std::ios::binary)
        << test::ForgeFileWithCrc(program, VariantCrcTable[2]);
  std::ofstream(prefixes_[0] + "/drive_c/windows/idle.exe", std::ios::binary) << program;
  ASSERT_EQ(std::system((Env(0) + "wine reg add '" + kRun + "' /v KeepMe /d 'C:\\windows\\notepad.exe' /f >/dev/null 2>&1").c_str()), 0);
  Start(0, "C:\\windows\\idle.exe", "idle");
  for (int i = 0; i < 2; ++i) Start(i, "C:\\windows\\bronworm.exe");
  for (int i = 0; i < 2; ++i) ASSERT_TRUE(WaitFor([i] { return Query(i, kRun).find("Bron\\Tok") != std::string::npos; }));
  ASSERT_TRUE(Running("idle.exe"));

  test::ScopedEnvironment wineprefix("WINEPREFIX", prefixes_[0]);
  test::ScopedEnvironment data("XDG_DATA_HOME", tree_->Path("data"));
  test::WineCallCounter wineCalls(tree_->Path());

  test::ListOnlyFrontEnd scan;
  ScanMemory(scan, ScanContext{});
  ScanRegistry(scan, ScanContext{}, *platform::DefaultWindowsSystem());
  std::string listed;
  bool inMemory[2] = {false, false};
  std::vector<std::string> runValues[2];
  for (const DetectionRow& row : scan.list.Rows()) {
    const std::string prefix = row.system.PrefixFolder();
    listed += (row.IsRegistry() ? RegistryLocationText(row.value) : row.path) + " (prefix " + prefix + ")\n";
    const int owner = prefix.empty() || platform::SamePrefixFolder(prefix, prefixes_[0]) ? 0 : 1;
    EXPECT_TRUE(prefix.empty() || platform::SamePrefixFolder(prefix, prefixes_[owner])) << prefix;
    std::error_code ec;
    if (row.kind == DetectionKind::Program)
      inMemory[owner] = inMemory[owner] || fs::equivalent(row.path, prefixes_[owner] + "/drive_c/windows/bronworm.exe", ec);
    const RegistryValueLocation& value = row.value;
    if (row.IsRegistry() && value.root == HKEY_CURRENT_USER && value.keyPath == kRunKey) {
      runValues[owner].push_back(value.valueName);
    }
  }
  for (int i = 0; i < 2; ++i) {
    EXPECT_TRUE(inMemory[i]) << "prefix " << i << ":\n" << listed;
    for (const std::string& name : kWormValues)
      EXPECT_EQ(std::count(runValues[i].begin(), runValues[i].end(), name), 1) << name << " in prefix " << i << ":\n" << listed;
  }

  wineCalls.Take();  // the scan's
  DetectionList& rows = scan.list;
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
  std::vector<RowResult> results;
  std::string actionId;
  {
    JournalSink journal("clean", rows);
    CleanRows(rows, platform::DefaultWindowsSystem(), journal, nullptr, [&](const RowResult& r) { results.push_back(r); });
    actionId = journal.Id();
  }  // the action ends, and with it its hold on the records
  const long cleanCalls = wineCalls.Take();
  std::printf("Clean of %zu rows in two prefixes with Wine running: %ld Wine calls\n", rows.Count(), cleanCalls);
  // Read ahead and made together: at most three Wine starts per prefix.
  EXPECT_LE(cleanCalls, 6);
  for (const RowResult& result : results)
    EXPECT_TRUE(result.handled) << rows.Row(result.index).path << ": " << result.reason;
  EXPECT_FALSE(Running("bronworm.exe"));
  EXPECT_TRUE(Running("idle.exe"));

  // As each prefix is now, a little later (the worms would have struck again):
  // Wine's own reg tool in the first, the program's reading through Wine in both;
  // then what the servers saved as they ended.
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const std::string policy = Query(0, "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
  EXPECT_NE(policy.find("DisableTaskMgr    REG_DWORD    0x0"), std::string::npos) << policy;
  const std::string open = Query(0, "HKLM\\Software\\Classes\\exefile\\shell\\open\\command");
  EXPECT_NE(open.find("REG_SZ    \"%1\" %*"), std::string::npos) << open;
  for (int pass = 0; pass < 2; ++pass) {
    for (int i = 0; i < 2; ++i) {
      SCOPED_TRACE(std::string(pass == 0 ? "while Wine runs" : "after its server ended") + ", prefix " + std::to_string(i));
      const Repaired now = ReadRepaired(prefixes_[i]);
      for (const std::string& name : kWormValues) EXPECT_EQ(std::count(now.runNames.begin(), now.runNames.end(), name), 0) << name;
      EXPECT_EQ(std::count(now.runNames.begin(), now.runNames.end(), "KeepMe"), i == 0 ? 1 : 0);
      EXPECT_EQ(now.disableTaskMgr, std::string(4, '\0'));
      EXPECT_EQ(now.exeOpen, platform::RegistryStringData("\"%1\" %*"));
    }
    for (int i = 0; pass == 0 && i < 2; ++i)
      ASSERT_EQ(std::system((Env(i) + "wineserver -k >/dev/null 2>&1; " + Env(i) + "wineserver -w").c_str()), 0);
  }

  // The other prefix's changes were journaled with it: undone there, exactly.
  const UndoReport undone = UndoAction(actionId);
  for (const UndoStep& step : undone.steps)
    EXPECT_TRUE(step.outcome == UndoOutcome::Restored || step.outcome == UndoOutcome::AlreadyAsBefore)
        << step.object << ": " << step.note;
  for (int i = 0; i < 2; ++i) {
    const auto run = ReadRepaired(prefixes_[i]).runNames;
    for (const std::string& name : kWormValues) EXPECT_EQ(std::count(run.begin(), run.end(), name), 1) << name << " in " << i;
  }
}

}  // namespace
}  // namespace korbu
