// A clean and its undo against a prefix that Wine itself made, checked with
// Wine's own reg tool and a Windows program of the test's own that lists values.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "repair/JournalSink.h"
#include "repair/RowActions.h"
#include "repair/Undo.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/WineCallCounter.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr const char* kRunKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kPolicy = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr";

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

std::string Hex(std::string_view bytes) {
  std::string out;
  for (char c : bytes) {
    char two[3];
    std::snprintf(two, sizeof two, "%02x", static_cast<unsigned char>(c));
    out += two;
  }
  return out.empty() ? "-" : out;
}

class WineClean : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!HaveWine()) return;
    tree_ = new test::TempTree();
    prefix_ = tree_->Path("prefix");
    booted_ = Shell("wineboot -i >/dev/null 2>&1; " + Env() + "wineserver -w") == 0 && fs::exists(prefix_ + "/user.reg");
  }
  static void TearDownTestSuite() {
    if (tree_ != nullptr) Shell("wineserver -k >/dev/null 2>&1; " + Env() + "wineserver -w");
    delete tree_;
    tree_ = nullptr;
  }
  void SetUp() override {
    if (!HaveWine()) GTEST_SKIP() << "Wine is not installed";
    if (!booted_) GTEST_SKIP() << "wineboot could not make a prefix";
    wineprefix_.emplace("WINEPREFIX", prefix_);
    debug_.emplace("WINEDEBUG", std::string("-all"));
    data_.emplace("XDG_DATA_HOME", tree_->Path("data"));
  }
  void TearDown() override { Shell("wineserver -k >/dev/null 2>&1; " + Env() + "wineserver -w"); }

  static std::string Env() { return "WINEPREFIX='" + prefix_ + "' WINEDEBUG=-all "; }
  static int Shell(const std::string& command) { return std::system((Env() + command).c_str()); }
  static std::string Query(const std::string& key) { return Output(Env() + "wine reg query '" + key + "' 2>&1"); }

  // The worm's Run value and file, and DisableTaskMgr = 1; the rows a scan would list.
  DetectionList Plant(const std::string& runData) {
    const std::string data = runData;
    EXPECT_TRUE(WriteRegValue(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, std::string(kRunKey) + "\\Bron-Spizaetus", platform::kRegSz, data.data(), data.size()));
    EXPECT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, kPolicy, 1));
    DetectionList rows;
    rows.AddRegistryDetection(*ParseRegistryLocation("HKEY_CURRENT_USER\\" + std::string(kRunKey) + "\\Bron-Spizaetus"), "Brontok-4");
    rows.AddDetection(tree_->Write("worm.exe", "MZ"), "Brontok-4");
    for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
    return rows;
  }

  static inline test::TempTree* tree_ = nullptr;
  static inline std::string prefix_;
  static inline bool booted_ = false;
  std::optional<test::ScopedEnvironment> wineprefix_, debug_, data_;
};

TEST_F(WineClean, ACleanAndItsUndoWhileWineRunsMakeThreeWineStartsEachAndPutBackExactBytes) {
  if (std::string(KORBU_REG_DUMP).empty()) GTEST_SKIP() << "no MinGW-w64 to build the registry lister";
  ASSERT_EQ(Shell("wineserver -p"), 0);  // a server that stays until it is killed
  // Text outside Windows-1252, a zero unit inside and a tail after it.
  const std::string planted =
      platform::RegistryStringData("C:\\windows\\worm.exe /lang=\xe4\xb8\xad\xe6\x96\x87 \xe2\x82\xac") +
      platform::Utf16LeBytes(u"tail") + std::string(2, '\0');
  DetectionList rows = Plant(planted);
  const std::string lister = Env() + "wine '" + KORBU_REG_DUMP + "' '" + kRunKey + "' 2>/dev/null";
  const std::string before = Output(lister);
  ASSERT_NE(before.find(Hex(planted)), std::string::npos) << before;
  // A fresh prefix has no batfile key and the like (an earlier clean may have made
  // them): the clean makes them, the undo removes them.
  const char* const kMadeTypes[] = {"batfile", "comfile", "piffile", "regfile", "scrfile"};
  for (const char* type : kMadeTypes) {
    const std::string key = std::string("Software\\Classes\\") + type;
    (void)DeleteRegValue(*platform::DefaultWindowsSystem(), HKEY_LOCAL_MACHINE, key + "\\shell\\open\\command\\");
    for (const char* below : {"\\shell\\open\\command", "\\shell\\open", "\\shell", ""})
      (void)platform::DefaultWindowsSystem()->DeleteEmptyKey(HKEY_LOCAL_MACHINE, key + below);
    ASSERT_EQ(platform::DefaultWindowsSystem()->ProbeKey(HKEY_LOCAL_MACHINE, key), platform::KeyState::Missing);
  }

  test::WineCallCounter wineCalls(tree_->Path());

  {
    JournalSink sink("clean", rows);
    CleanRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, nullptr);
  }  // the action ends, and with it its hold on the records
  ASSERT_EQ(rows.Row(0).state, RowState::Cleaned);
  ASSERT_EQ(rows.Row(1).state, RowState::Cleaned);
  const long cleanCalls = wineCalls.Take();
  // As Wine's own reg tool sees the repair.
  const std::string policies = Query("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System");
  EXPECT_NE(policies.find("DisableTaskMgr    REG_DWORD    0x0"), std::string::npos) << policies;
  EXPECT_EQ(Query("HKCU\\" + std::string(kRunKey)).find("Bron-Spizaetus"), std::string::npos);
  EXPECT_NE(Query("HKLM\\Software\\Classes\\exefile\\shell\\open\\command").find("\"%1\" %*"), std::string::npos);
  wineCalls.Take();
  const UndoReport report = UndoAction("last");
  const long undoCalls = wineCalls.Take();
  std::printf("With Wine running: clean %ld Wine calls, undo of %zu steps %ld Wine calls\n",
              cleanCalls, report.steps.size(), undoCalls);
  EXPECT_LE(cleanCalls, 3);
  EXPECT_LE(undoCalls, 3);
  for (const UndoStep& step : report.steps) EXPECT_NE(step.outcome, UndoOutcome::Failed) << step.object << ": " << step.note;
  EXPECT_TRUE(report.Complete());

  // As a Windows program reads them now: the same bytes as before the clean.
  EXPECT_EQ(Output(lister), before);
  std::vector<unsigned char> policy;
  ASSERT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, kPolicy, platform::kRegDword, policy));
  EXPECT_EQ(policy, (std::vector<unsigned char>{1, 0, 0, 0}));
  // The keys the clean made are gone again, down to the first one it made.
  for (const char* type : kMadeTypes)
    EXPECT_EQ(platform::DefaultWindowsSystem()->ProbeKey(HKEY_LOCAL_MACHINE, std::string("Software\\Classes\\") + type),
              platform::KeyState::Missing) << type;
  EXPECT_EQ(test::ReadFileBytes(rows.Row(1).path), "MZ");
}

TEST_F(WineClean, ARepairWineTakesButCannotSaveLeavesTheRowPending) {
  ASSERT_EQ(Shell("wineserver -p"), 0);
  DetectionList rows = Plant(platform::RegistryStringData("C:\\windows\\worm.exe"));
  const std::string userReg = prefix_ + "/user.reg";
  if (std::system(("chattr +i '" + userReg + "' 2>/dev/null").c_str()) != 0)
    GTEST_SKIP() << "user.reg cannot be made immutable here (chattr needs root and a file system that has the flag)";
  std::vector<RowResult> results;
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, [&](const RowResult& r) { results.push_back(r); });
  std::system(("chattr -i '" + userReg + "'").c_str());
  ASSERT_EQ(results.size(), 2u);
  for (const RowResult& result : results) {  // the file row's repair wrote HKCU too
    EXPECT_FALSE(result.handled) << rows.Row(result.index).path;
    EXPECT_NE(result.reason.find("cannot save"), std::string::npos) << result.reason;
    EXPECT_NE(result.reason.find("immutable"), std::string::npos) << result.reason;
  }
  EXPECT_TRUE(rows.Row(0).checked);
}

}  // namespace
}  // namespace korbu
