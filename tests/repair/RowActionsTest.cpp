// The Clean and Delete row loops.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "DamagedPrefix.h"
#include "repair/ProcessesEndedOnce.h"
#include "repair/RegistryValues.h"
#include "repair/RowActions.h"
#include "scan/RegistryLocations.h"
#include "ui/SelectionRules.h"
#include "platform/Registry.h"
#include "services/MiniReg.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;

constexpr const char* kRunValue =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Bron-Spizaetus";
constexpr const char* kKeepValue = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Keep";
constexpr const char* kTaskMgr = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr";

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

class RowLoopTest : public ::testing::Test {
 protected:
  test::DamagedPrefix damage;
  std::vector<RowResult> results;
  RowReporter Reporter() {
    return [this](const RowResult& r) { results.push_back(r); };
  }
  static void CheckAll(DetectionList& rows) {
    for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
  }
};

TEST_F(RowLoopTest, CleanRepairsWormRowsAndLeavesOthersChecked) {
  DetectionList rows;
  rows.AddRegistryDetection(*ParseRegistryLocation(kRunValue), "Brontok-4");
  rows.AddDetection(damage.wormFile, "Brontok-1");
  const std::string other = damage.Prefix().WriteC("windows/eicar.com", "x");
  rows.AddDetection(other, "Eicar-Test-Signature");
  rows.AddRegistryDetection(*ParseRegistryLocation(kKeepValue), "Eicar-Test-Signature");
  CheckAll(rows);
  int events = 0;
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), [&] { ++events; }, Reporter());

  EXPECT_EQ(events, 2);
  EXPECT_EQ(rows.Row(0).state, RowState::Cleaned);
  EXPECT_EQ(rows.Row(1).state, RowState::Cleaned);
  EXPECT_FALSE(rows.Row(0).checked);
  EXPECT_EQ(RegistryLocationPresence(*platform::DefaultWindowsSystem(), kRunValue), ValuePresence::Absent);
  EXPECT_FALSE(Exists(damage.wormFile));
  EXPECT_EQ(ReadFileBytes(damage.Hosts()), "127.0.0.1\tlocalhost");
  // Another virus: nothing done, still pending and checked.
  EXPECT_TRUE(rows.Row(2).checked);
  EXPECT_TRUE(IsPending(rows.Row(2)));
  EXPECT_TRUE(Exists(other));
  EXPECT_EQ(RegistryLocationPresence(*platform::DefaultWindowsSystem(), kKeepValue), ValuePresence::Present);
  ASSERT_EQ(results.size(), 4u);
  EXPECT_FALSE(results[2].handled);
  EXPECT_FALSE(results[2].reason.empty());
}

TEST_F(RowLoopTest, CleanOfARegistryRowDoesNoSystemRepair) {
  DetectionList rows;
  rows.AddRegistryDetection(*ParseRegistryLocation(kRunValue), "Brontok-4");
  CheckAll(rows);
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, nullptr);
  EXPECT_EQ(rows.Row(0).state, RowState::Cleaned);
  EXPECT_TRUE(Exists(damage.Prefix().DriveC("autoexec.bat")));
  EXPECT_EQ(test::RegData(HKEY_CURRENT_USER, kTaskMgr, platform::kRegDword), std::string("\1\0\0\0", 4));
}

// The whole repair runs once per action and system: thousands of worm copies
// must not repair the same system thousands of times.
TEST_F(RowLoopTest, TwoWormRowsOfOneSystemRunTheWholeRepairOnce) {
  DetectionList rows;
  rows.AddDetection(damage.wormFile, "Brontok-1");
  const std::string second = damage.Prefix().WriteC("windows/second.exe", "MZ");
  rows.AddDetection(second, "Brontok.Variant", DetectionKind::Program);
  CheckAll(rows);
  int events = 0;
  // Changed again between the rows: a second repair would set it back.
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), [&] {
    if (events++ == 0) damage.Prefix().WriteC("autoexec.bat", "pause");
  }, nullptr);
  EXPECT_EQ(test::RegData(HKEY_CURRENT_USER, kTaskMgr, platform::kRegDword), std::string(4, '\0'));
  EXPECT_TRUE(Exists(damage.Prefix().DriveC("autoexec.bat")));
  EXPECT_FALSE(Exists(damage.wormFile));
  EXPECT_FALSE(Exists(second));
  EXPECT_EQ(rows.Row(0).state, RowState::Cleaned);
  EXPECT_EQ(rows.Row(1).state, RowState::Cleaned);
}

TEST_F(RowLoopTest, ARowWhoseObjectStaysIsNotReportedCleaned) {
  DetectionList rows;
  const std::string folder = damage.Prefix().DriveC("windows/worm.exe");
  fs::create_directories(folder);  // not a file: cannot be deleted
  rows.AddDetection(folder, "Brontok-3");
  rows.AddRegistryDetection(*ParseRegistryLocation("HKEY_USERS\\S-1\\Software\\Run\\x"), "Brontok-3");
  CheckAll(rows);
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, Reporter());
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(rows.Row(i).state, RowState::Failed);
    EXPECT_TRUE(rows.Row(i).checked);
  }
  ASSERT_EQ(results.size(), 2u);
  EXPECT_EQ(results[0].reason, "it is not a regular file");
  EXPECT_EQ(results[1].reason, "the registry value cannot be reached: this root key does not exist in a Wine prefix");
  EXPECT_TRUE(UpdateActionButtons(rows, true).buttons.clean);
}

TEST_F(RowLoopTest, DeleteRemovesEachKindAndKeepsAGoneFilePending) {
  DetectionList rows;
  const std::string other = damage.Prefix().WriteC("windows/eicar.com", "x");
  rows.AddDetection(other, "Eicar-Test-Signature");
  rows.AddRegistryDetection(*ParseRegistryLocation(kKeepValue), "Eicar-Test-Signature");
  rows.AddDetection(damage.Prefix().DriveC("windows/gone.com"), "Eicar-Test-Signature");
  rows.AddDetection(damage.wormFile, "Brontok-1");
  CheckAll(rows);
  DeleteRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, Reporter());
  EXPECT_FALSE(Exists(other));
  EXPECT_EQ(rows.Row(0).state, RowState::Deleted);
  EXPECT_EQ(RegistryLocationPresence(*platform::DefaultWindowsSystem(), kKeepValue), ValuePresence::Absent);
  EXPECT_EQ(rows.Row(1).state, RowState::Deleted);
  EXPECT_TRUE(rows.Row(2).checked);
  EXPECT_TRUE(IsPending(rows.Row(2)));
  EXPECT_EQ(rows.Row(3).state, RowState::Deleted);
  EXPECT_FALSE(Exists(damage.Prefix().DriveC("autoexec.bat")));  // the full repair ran
  EXPECT_TRUE(UpdateActionButtons(rows, true).buttons.del);
}

TEST_F(RowLoopTest, ADryRunMarksNothingAndChangesNothing) {
  DetectionList rows;
  rows.AddDetection(damage.wormFile, "Brontok-1");
  rows.AddRegistryDetection(*ParseRegistryLocation(kRunValue), "Brontok-4");
  CheckAll(rows);
  const std::string before = damage.Prefix().Snapshot();
  PreviewSink preview;
  DeleteRows(rows, platform::DefaultWindowsSystem(), preview, nullptr, Reporter());
  EXPECT_EQ(damage.Prefix().Snapshot(), before);
  ASSERT_EQ(results.size(), 2u);
  EXPECT_FALSE(results[0].handled);
  EXPECT_TRUE(IsPending(rows.Row(0)));
  EXPECT_TRUE(IsPending(rows.Row(1)));
  EXPECT_FALSE(preview.Changes().empty());
}

// A program whose Windows system was not proven: its file goes, and no system
// (the current one least of all) is repaired in its place.
TEST_F(RowLoopTest, ARowOfAnUnknownSystemDeletesItsFileAndRepairsNoSystem) {
  DetectionList rows;
  DetectionRow row;
  row.kind = DetectionKind::Program;
  row.path = damage.wormFile;
  row.virusName = "Brontok-1";
  row.unknownSystem = "her server is forged";
  rows.AddRow(row);
  CheckAll(rows);
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, Reporter());
  EXPECT_FALSE(Exists(damage.wormFile));
  EXPECT_TRUE(Exists(damage.Prefix().DriveC("autoexec.bat")));
  EXPECT_EQ(test::RegData(HKEY_CURRENT_USER, kTaskMgr, platform::kRegDword), std::string("\1\0\0\0", 4));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].handled);
  EXPECT_EQ(results[0].reason, "its Windows system is unknown (her server is forged): only its file was deleted");
  EXPECT_TRUE(IsPending(rows.Row(0)));
}

// The system refuses one of the repair's registry writes.
class RefusingSink final : public ForwardingSink {
 public:
  RefusingSink() : ForwardingSink(ApplyChanges()) {}
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                       std::uint32_t data) override {
    if (value.keyPath + "\\" + value.valueName == kTaskMgr) return Failure("Access is denied.");
    return inner_.WriteRegDWord(system, value, data);
  }
};

TEST_F(RowLoopTest, ARefusedRepairWriteKeepsTheRowPendingWithTheReason) {
  DetectionList rows;
  rows.AddDetection(damage.wormFile, "Brontok-1");
  CheckAll(rows);
  RefusingSink sink;
  CleanRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, Reporter());
  EXPECT_FALSE(Exists(damage.wormFile));  // the file went, the repair did not hold
  EXPECT_TRUE(rows.Row(0).checked);
  EXPECT_TRUE(IsPending(rows.Row(0)));
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].handled);
  EXPECT_EQ(results[0].reason, std::string("the repair could not set HKEY_CURRENT_USER\\") + kTaskMgr +
                                   ": Access is denied.");
}

// A program running the file cannot be ended, and so the file stays.
class StubbornProgramSink final : public ForwardingSink {
 public:
  StubbornProgramSink() : ForwardingSink(ApplyChanges()) {}
  Status EndProcesses(const std::string&) override { return Failure("process 7: Access is denied."); }
  Status DeleteFile(const platform::Folder&, const std::string&) override {
    return Failure("Text file busy");
  }
};

TEST_F(RowLoopTest, AProgramThatCannotBeEndedGivesTheRowItsReason) {
  StubbornProgramSink sink;
  const auto reasonOf = [&](const std::string& file, const char* virus, bool clean) {
    DetectionList rows;
    rows.AddDetection(file, virus);
    CheckAll(rows);
    results.clear();
    if (clean) CleanRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, Reporter());
    else DeleteRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, Reporter());
    return results.size() == 1 && !results[0].handled ? results[0].reason : std::string("(handled)");
  };
  const std::string expected = "the file could not be deleted: Text file busy (process 7: Access is denied.)";
  EXPECT_EQ(reasonOf(damage.Prefix().WriteC("windows/eicar.com", "x"), "Eicar-Test-Signature", false), expected);
  EXPECT_EQ(reasonOf(damage.wormFile, "Brontok-1", true), expected);
}

// The value goes, but the worm it starts may still run and write it back: the
// row says so rather than "cleaned".
TEST_F(RowLoopTest, ARunValueWhoseProgramCannotBeEndedStaysPending) {
  StubbornProgramSink sink;
  DetectionList rows;
  rows.AddRegistryDetection(*ParseRegistryLocation(kRunValue), "Brontok-4");
  CheckAll(rows);
  CleanRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, Reporter());
  EXPECT_EQ(RegistryLocationPresence(*platform::DefaultWindowsSystem(), kRunValue), ValuePresence::Absent);
  ASSERT_EQ(results.size(), 1u);
  EXPECT_FALSE(results[0].handled);
  EXPECT_EQ(results[0].reason, "the program its value starts could not be ended: process 7: Access is denied.");
  EXPECT_TRUE(rows.Row(0).checked);
}

// Counts the requests to end programs; the programs "running" are the ones given.
class CountingEndSink final : public ForwardingSink {
 public:
  explicit CountingEndSink(std::optional<std::vector<std::string>> running)
      : ForwardingSink(ApplyChanges()), running_(std::move(running)) {}
  Status EndProcesses(const std::string& path) override {
    ++asked[path];
    return Failure("refused for " + path);
  }
  std::optional<std::vector<std::string>> RunningPrograms() override { return running_; }
  std::map<std::string, int> asked;

 private:
  std::optional<std::vector<std::string>> running_;
};

TEST(ProcessesEndedOnceTest, OnlyFilesARunningProgramBearsAreAskedForAndEachOnce) {
  CountingEndSink inner(std::vector<std::string>{"/p/drive_c/windows/ShellNew/SEMPALONG.EXE", ""});
  ProcessesEndedOnce once(inner);
  EXPECT_TRUE(once.EndProcesses("/q/eicar.com"));  // no program runs it
  const Status first = once.EndProcesses("/q/sempalong.exe");
  ASSERT_FALSE(first);
  const Status again = once.EndProcesses("/q/sempalong.exe");
  ASSERT_FALSE(again);  // the first answer, not asked again
  EXPECT_EQ(again.error().reason, first.error().reason);
  EXPECT_FALSE(once.EndProcesses("C:\\windows\\ShellNew\\Sempalong.exe"));  // a Run value's program
  EXPECT_EQ(inner.asked.size(), 2u);
  EXPECT_EQ(inner.asked["/q/sempalong.exe"], 1);
  EXPECT_EQ(inner.asked.count("/q/eicar.com"), 0u);

  // A sink that cannot tell what runs is asked for every file, once each.
  CountingEndSink blind(std::nullopt);
  ProcessesEndedOnce all(blind);
  for (const char* file : {"/q/a.exe", "/q/b.exe", "/q/a.exe"}) (void)all.EndProcesses(file);
  EXPECT_EQ(blind.asked, (std::map<std::string, int>{{"/q/a.exe", 1}, {"/q/b.exe", 1}}));
}

TEST_F(RowLoopTest, AnActionEndsTheProgramsOfEachWormFileOnce) {
  DetectionList rows;
  const std::string second = damage.Prefix().WriteC("windows/second.exe", "MZ");
  rows.AddDetection(damage.wormFile, "Brontok-1");
  rows.AddDetection(second, "Brontok-2");
  CheckAll(rows);
  CountingEndSink sink(std::vector<std::string>{damage.wormFile, second});
  DeleteRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, nullptr);
  EXPECT_EQ(sink.asked, (std::map<std::string, int>{{damage.wormFile, 1}, {second, 1}}));
}

TEST_F(RowLoopTest, ARegistryRowDeletesExactlyItsValueWhateverItsName) {
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  auto run = platform::DefaultWindowsSystem()->OpenKey(HKEY_CURRENT_USER, key, platform::KeyAccess::ReadWrite);
  ASSERT_TRUE(run);
  ASSERT_TRUE(run->SetValue("Bron\\Tok", platform::kRegSz, std::string("x\0", 2)));
  ASSERT_TRUE(run->SetValue("Tok", platform::kRegSz, std::string("y\0", 2)));  // what the text would name
  DetectionList rows;
  rows.AddRegistryDetection({HKEY_CURRENT_USER, key, "Bron\\Tok"}, "Brontok-4");
  CheckAll(rows);
  DeleteRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, Reporter());
  EXPECT_EQ(rows.Row(0).state, RowState::Deleted);
  EXPECT_FALSE(run->QueryValue("Bron\\Tok"));
  EXPECT_TRUE(run->QueryValue("Tok"));
}

// The system refuses to delete one registry value, named by key and name apart.
class ValueRefusingSink final : public ForwardingSink {
 public:
  explicit ValueRefusingSink(RegistryValueLocation refused) : ForwardingSink(ApplyChanges()), refused_(std::move(refused)) {}
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override {
    if (value.root == refused_.root && value.keyPath == refused_.keyPath && value.valueName == refused_.valueName) {
      return Failure("Access is denied.");
    }
    return inner_.DeleteRegValue(system, value);
  }

 private:
  RegistryValueLocation refused_;
};

// Value "a\b" of K and value "b" of K\a read alike as text, yet are two values:
// only the row whose deletion was refused stays pending.
TEST_F(RowLoopTest, OfTwoValuesThatReadAlikeOnlyTheRefusedOneStays) {
  const std::string key = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  auto run = platform::DefaultWindowsSystem()->OpenKey(HKEY_CURRENT_USER, key, platform::KeyAccess::ReadWrite);
  ASSERT_TRUE(run);
  ASSERT_TRUE(run->SetValue("a\\b", platform::kRegSz, std::string("x\0", 2)));
  auto sub = platform::DefaultWindowsSystem()->CreateKey(HKEY_CURRENT_USER, key + "\\a");
  ASSERT_TRUE(sub);
  ASSERT_TRUE(sub->SetValue("b", platform::kRegSz, std::string("y\0", 2)));
  for (const bool refuseFirst : {true, false}) {
    SCOPED_TRACE(refuseFirst);
    const RegistryValueLocation first{HKEY_CURRENT_USER, key, "a\\b"};
    const RegistryValueLocation second{HKEY_CURRENT_USER, key + "\\a", "b"};
    DetectionList rows;
    rows.AddRegistryDetection(first, "Brontok-4");
    rows.AddRegistryDetection(second, "Brontok-4");
    CheckAll(rows);
    results.clear();
    ValueRefusingSink sink(refuseFirst ? first : second);
    DeleteRows(rows, platform::DefaultWindowsSystem(), sink, nullptr, Reporter());
    ASSERT_EQ(results.size(), 2u);
    const std::size_t refused = refuseFirst ? 0 : 1;
    EXPECT_FALSE(results[refused].handled);
    EXPECT_EQ(results[refused].reason, "the registry value could not be deleted: Access is denied.");
    EXPECT_TRUE(results[1 - refused].handled) << results[1 - refused].reason;
    EXPECT_EQ(rows.Row(1 - refused).state, RowState::Deleted);
    // Put back what this round deleted, for the next.
    if (refuseFirst) {
      ASSERT_TRUE(sub->SetValue("b", platform::kRegSz, std::string("y\0", 2)));
    }
  }
}

TEST_F(RowLoopTest, AListClearedWhileMessagesRunEndsTheLoop) {
  DetectionList rows;
  rows.AddRegistryDetection(*ParseRegistryLocation(kRunValue), "Brontok-4");
  rows.AddRegistryDetection(*ParseRegistryLocation(kKeepValue), "Brontok-4");
  CheckAll(rows);
  CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), [&] { rows.Clear(); }, Reporter());
  EXPECT_EQ(rows.Count(), 0u);
  EXPECT_TRUE(results.empty());
  EXPECT_EQ(RegistryLocationPresence(*platform::DefaultWindowsSystem(), kKeepValue), ValuePresence::Present);
}

}  // namespace
}  // namespace korbu
