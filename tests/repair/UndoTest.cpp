// Clean and Delete through the journal, and undoing them: whole, after a crash,
// and over things changed since.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <cstdlib>
#include <functional>
#include <filesystem>
#include <stdexcept>

#include "DamagedPrefix.h"
#include "platform/Path.h"
#include "platform/Sha256.h"
#include "repair/JournalSink.h"
#include "repair/RegistryValues.h"
#include "repair/RowActions.h"
#include "repair/Undo.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::WriteFileBytes;

constexpr const char* kRunValue =
    "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Bron-Spizaetus";
constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";

// Every value the clean touches, and the Run values.
const std::vector<std::string>& Locations() {
  static const std::vector<std::string> locations = [] {
    const std::string adv = "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\";
    const std::string pol = std::string("HKEY_CURRENT_USER\\") + kPolicies;
    std::vector<std::string> l = {
        "HKEY_LOCAL_MACHINE\\SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\AlternateShell",
        adv + "Hidden", adv + "HideFileExt", adv + "SuperHidden", adv + "ShowSuperHidden",
        pol + "Explorer\\NoFolderOptions", pol + "System\\DisableTaskMgr", pol + "System\\DisableRegistryTools",
        pol + "System\\DisableCMD", kRunValue, "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Keep"};
    for (const char* type : {"bat", "com", "exe", "pif", "reg", "scr"}) {
      l.push_back(std::string("HKEY_LOCAL_MACHINE\\Software\\CLASSES\\") + type + "file\\shell\\open\\command\\");
    }
    return l;
  }();
  return locations;
}

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::string Eicar() { return std::string("X5O!P%@AP[4\\PZX54(P^)7CC)7}$") + "EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*"; }

// Performs the first changes, then ends the action as a crash would.
class CrashingSink final : public ForwardingSink {
 public:
  explicit CrashingSink(int allowed) : ForwardingSink(ApplyChanges()), allowed_(allowed) {}
  Status ClearAttributes(const platform::Folder& f, const std::string& n) override {
    Tick();
    return inner_.ClearAttributes(f, n);
  }
  Status DeleteFile(const platform::Folder& f, const std::string& n) override {
    Tick();
    return inner_.DeleteFile(f, n);
  }
  Expected<std::string> MoveToTrash(const platform::Folder& f, const std::string& n) override {
    Tick();
    return inner_.MoveToTrash(f, n);
  }
  Status WriteIniValue(const platform::Folder& f, const std::string& n, std::string_view s, std::string_view k,
                       std::string_view v) override {
    Tick();
    return inner_.WriteIniValue(f, n, s, k, v);
  }
  Status ReplaceFileKeepingBackup(const platform::Folder& f, const std::string& n, const std::string& c,
                                  const std::string& b) override {
    Tick();
    return inner_.ReplaceFileKeepingBackup(f, n, c, b);
  }
  Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& v,
                        std::string_view t) override {
    Tick();
    return inner_.WriteRegString(system, v, t);
  }
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& v,
                       std::uint32_t d) override {
    Tick();
    return inner_.WriteRegDWord(system, v, d);
  }
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& v) override {
    Tick();
    return inner_.DeleteRegValue(system, v);
  }

 private:
  void Tick() {
    if (--allowed_ < 0) throw std::runtime_error("power cut");
  }
  int allowed_;
};

// Refuses to delete one value, named by key and name.
class RefusingOneValue final : public ForwardingSink {
 public:
  explicit RefusingOneValue(RegistryValueLocation refused) : ForwardingSink(ApplyChanges()), refused_(std::move(refused)) {}
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override {
    if (value.keyPath == refused_.keyPath && value.valueName == refused_.valueName) return Failure("Access is denied.");
    return inner_.DeleteRegValue(system, value);
  }

 private:
  RegistryValueLocation refused_;
};

class UndoTest : public ::testing::Test {
 protected:
  test::DamagedPrefix damage;
  test::WinePrefixFixture& prefix = damage.Prefix();

  // The worm file and its Run value, checked.
  DetectionList WormRows() const {
    DetectionList rows;
    rows.AddDetection(damage.wormFile, "Brontok-1", DetectionKind::Program);
    rows.AddRegistryDetection(*ParseRegistryLocation(kRunValue), "Brontok-1");
    for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);
    return rows;
  }

  // Every file of the prefix (checksum and mode; links by target) except the
  // registry files, whose key times may change, and every value of Locations().
  std::string State() const {
    std::vector<std::string> lines;
    const fs::path root = prefix.Folder();
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
      const std::string name = fs::relative(it->path(), root).string();
      if (name.find('/') == std::string::npos && (name.ends_with(".reg") || name.ends_with(".reg.lock"))) continue;
      if (it->is_symlink()) {
        lines.push_back(name + " -> " + fs::read_symlink(it->path()).string());
        it.disable_recursion_pending();
      } else if (it->is_regular_file()) {
        lines.push_back(name + " " + platform::Sha256Hex(ReadFileBytes(it->path())) + " mode " +
                        std::to_string(static_cast<unsigned>(fs::status(it->path()).permissions())));
      } else {
        lines.push_back(name + "/");
      }
    }
    for (const std::string& location : Locations()) {
      const auto split = SplitRegistryLocation(location);
      const auto value = split ? CurrentRegistryValue(*platform::DefaultWindowsSystem(), split->root, split->valuePath) : std::nullopt;
      lines.push_back(location + " = " + (value ? std::to_string(value->type) + ":" + EscapeBytes(value->data) : "(none)"));
    }
    std::sort(lines.begin(), lines.end());
    std::string out;
    for (const auto& line : lines) out += line + "\n";
    return out;
  }

  // Runs Clean or Delete over the rows through the journal, as a front end does,
  // and gives the action's id; the action ends here, and lets go of the records.
  template <typename Loop>
  static std::string Act(const char* action, Loop loop, DetectionList& rows) {
    JournalSink sink(action, rows);
    loop(rows, platform::DefaultWindowsSystem(), sink, PendingMessages(), RowReporter());
    EXPECT_TRUE(sink.Error().empty()) << sink.Error();
    return sink.Id();
  }

  static std::uint32_t Dword(std::string_view policy) {
    std::uint32_t value = 0xFFFFFFFF;
    std::vector<unsigned char> data;
    if (ReadRegValue(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, std::string(kPolicies) + std::string(policy), platform::kRegDword, data) &&
        data.size() == 4) {
      value = data[0] | (data[1] << 8) | (data[2] << 16) | (static_cast<std::uint32_t>(data[3]) << 24);
    }
    return value;
  }
};

TEST_F(UndoTest, CleanThenUndoLeavesEveryValueAndFileAsBefore) {
  const std::string before = State();
  DetectionList rows = WormRows();
  const std::string id = Act("clean", CleanRows, rows);
  EXPECT_EQ(rows.Row(0).state, RowState::Cleaned);
  EXPECT_EQ(rows.Row(1).state, RowState::Cleaned);
  EXPECT_FALSE(Exists(damage.wormFile));
  EXPECT_TRUE(damage.InTrash("bron"));
  ASSERT_NE(State(), before);

  const UndoReport report = UndoAction("last");
  EXPECT_EQ(report.id, id);
  for (const UndoStep& step : report.steps) {
    EXPECT_TRUE(step.outcome == UndoOutcome::Restored || step.outcome == UndoOutcome::AlreadyAsBefore)
        << step.object << ": " << step.note;
  }
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(State(), before);
  EXPECT_TRUE(fs::is_empty(fs::path(damage.Trashed("")).parent_path().parent_path() / "info"));

  const auto history = ActionHistory();
  ASSERT_TRUE(history && history->size() == 1u);
  const ActionSummary& action = history->front();
  EXPECT_EQ(action.action, "clean");
  ASSERT_EQ(action.rows.size(), 2u);
  EXPECT_EQ(action.rows[0].file, damage.wormFile);
  EXPECT_GT(action.changes, 20);
  EXPECT_FALSE(action.undone.empty());
  EXPECT_FALSE(UndoAction("last").error.empty());  // nothing left to undo
}

// Value "a\\b" of K and value "b" of K\\a read alike as text: with the deletion
// of the second refused, only its row fails, and the undo brings back the first.
TEST_F(UndoTest, ValuesOfOneLocationTextAreDeletedAndUndoneApart) {
  const std::string key = "Software\\KorbuPair";
  const RegistryValueLocation named{HKEY_CURRENT_USER, key, "a\\b"};
  const RegistryValueLocation nested{HKEY_CURRENT_USER, key + "\\a", "b"};
  for (const RegistryValueLocation& value : {named, nested}) {
    ASSERT_TRUE(SetRegistryValue(*platform::DefaultWindowsSystem(), value, platform::kRegSz, platform::RegistryStringData(value.keyPath)));
  }
  DetectionList rows;
  rows.AddRegistryDetection(named, "Brontok-4");
  rows.AddRegistryDetection(nested, "Brontok-4");
  ASSERT_EQ(rows.Count(), 2u);
  rows.SetChecked(0, true);
  rows.SetChecked(1, true);
  RefusingOneValue refusing(nested);
  {
    JournalSink sink("delete", rows, ActionsFolder(), refusing);
    DeleteRows(rows, platform::DefaultWindowsSystem(), sink, PendingMessages(), RowReporter());
  }
  EXPECT_EQ(rows.Row(0).state, RowState::Deleted);
  EXPECT_EQ(rows.Row(1).state, RowState::Failed);
  EXPECT_EQ(rows.Row(1).failure, "the registry value could not be deleted: Access is denied.");
  EXPECT_FALSE(CurrentRegistryValue(*platform::DefaultWindowsSystem(), named));
  EXPECT_TRUE(CurrentRegistryValue(*platform::DefaultWindowsSystem(), nested));

  const UndoReport report = UndoAction("last");
  EXPECT_TRUE(report.Complete()) << report.error;
  const auto back = CurrentRegistryValue(*platform::DefaultWindowsSystem(), named);
  ASSERT_TRUE(back);
  EXPECT_EQ(back->data, platform::RegistryStringData(key));
  EXPECT_TRUE(CurrentRegistryValue(*platform::DefaultWindowsSystem(), nested));
}

// Records written before key and name were kept apart hold the location alone:
// they still read, split at the last backslash; newer ones keep a name whole.
TEST(JournalRecords, RegistryRecordsOfBothFormsRead) {
  const nlohmann::json old = nlohmann::json::parse(
      R"({"op":"registry","n":4,"location":"HKEY_CURRENT_USER\\Software\\Run\\Bron-Spizaetus",)"
      R"("old":{"type":1,"data":"x%00"},"new":null,"prefix":"/p/A"})");
  const auto entry = EntryFromJson(old);
  ASSERT_TRUE(entry) << entry.error().reason;
  const auto* change = std::get_if<RegistryChange>(&entry->record);
  ASSERT_NE(change, nullptr);
  EXPECT_EQ(change->value.root, HKEY_CURRENT_USER);
  EXPECT_EQ(change->value.keyPath, "Software\\Run");
  EXPECT_EQ(change->value.valueName, "Bron-Spizaetus");
  EXPECT_EQ(change->prefix, "/p/A");
  ASSERT_TRUE(change->before);
  EXPECT_EQ(change->before->data, std::string("x\0", 2));

  const RegistryChange named{{HKEY_CURRENT_USER, "K", "a\\b"}, std::nullopt, RegistryData{1, "y"}, {}, {}, "K"};
  const auto back = EntryFromJson(nlohmann::json::parse(ToJson(JournalEntry{1, named}).dump()));
  ASSERT_TRUE(back);
  const auto* read = std::get_if<RegistryChange>(&back->record);
  ASSERT_NE(read, nullptr);
  EXPECT_EQ(read->value.keyPath, "K");
  EXPECT_EQ(read->value.valueName, "a\\b");
  EXPECT_EQ(read->created, std::optional<std::string>("K"));
  EXPECT_FALSE(EntryFromJson(nlohmann::json::parse(R"({"op":"registry","n":1,"location":"no root","old":null,"new":null})")));
}

// The rows act on the system their scan ran on, and the undo on the one its
// records name, whichever prefix the environment names meanwhile.
TEST_F(UndoTest, CleanAndUndoActOnTheScannedSystemNotTheOneTheEnvironmentNames) {
  const auto scanned = platform::OpenOrUnreachable(platform::WindowsSystemRef::Prefix(prefix.Folder()));
  test::WinePrefixFixture elsewhere;  // WINEPREFIX names this one from here on
  const std::string untouched = elsewhere.Snapshot();
  std::string id;
  {
    DetectionList rows = WormRows();
    JournalSink sink("clean", rows);
    CleanRows(rows, scanned, sink, PendingMessages(), RowReporter());
    ASSERT_TRUE(sink.Error().empty()) << sink.Error();
    id = sink.Id();
    EXPECT_EQ(rows.Row(0).state, RowState::Cleaned);
    EXPECT_EQ(rows.Row(1).state, RowState::Cleaned);
  }
  EXPECT_EQ(RegistryLocationPresence(*scanned, kRunValue), ValuePresence::Absent);
  EXPECT_EQ(elsewhere.Snapshot(), untouched);

  const UndoReport report = UndoAction(id);
  EXPECT_TRUE(report.Complete()) << report.error;
  EXPECT_EQ(RegistryLocationPresence(*scanned, kRunValue), ValuePresence::Present);
  EXPECT_EQ(elsewhere.Snapshot(), untouched);
}

TEST_F(UndoTest, AnInterruptedActionIsUndoneForThePartDoneAndTheCutRecordIsUncertain) {
  const std::string before = State();
  DetectionList rows = WormRows();
  // Attributes, the worm file, system.ini and five registry values, then the
  // crash: the change after them is recorded but never made.
  std::string id;
  {
    CrashingSink crash(8);
    JournalSink sink("clean", rows, ActionsFolder(), crash);
    EXPECT_THROW(CleanRows(rows, platform::DefaultWindowsSystem(), sink, {}, {}), std::runtime_error);
    id = sink.Id();
  }
  EXPECT_FALSE(Exists(damage.wormFile));
  EXPECT_NE(State(), before);
  // A last line whose writing the crash cut short.
  const std::string journal = InFolder(InFolder(ActionsFolder(), id), kJournalFileName);
  WriteFileBytes(journal, ReadFileBytes(journal) + "{\"op\":\"registry\",\"location\":\"HKEY_X\\\\Cut\",\"ol");

  const UndoReport report = UndoAction("last");
  ASSERT_GE(report.steps.size(), 10u);
  EXPECT_EQ(report.steps[0].outcome, UndoOutcome::Uncertain);
  EXPECT_EQ(report.steps[0].object, "HKEY_X\\Cut");
  EXPECT_EQ(report.steps[1].outcome, UndoOutcome::AlreadyAsBefore);  // recorded, never made
  EXPECT_FALSE(report.Complete());
  EXPECT_EQ(State(), before);
  // Its own record went on a line of its own, so the next undo finds the same.
  EXPECT_EQ(UndoAction("last").id, id);
}

TEST_F(UndoTest, WhatChangedSinceTheActionIsLeftAloneAndReported) {
  DetectionList rows = WormRows();
  const std::string id = Act("clean", CleanRows, rows);
  ASSERT_FALSE(id.empty());
  // The user writes a hosts file, sets a policy again and makes an Autoexec.bat.
  WriteFileBytes(damage.Hosts(), "user's own\n");
  ASSERT_TRUE(WriteRegDWord(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, std::string(kPolicies) + "System\\DisableCMD", 7));
  const std::string autoexec = prefix.WriteC("autoexec.bat", "rem mine");

  const UndoReport report = UndoAction(id);
  EXPECT_FALSE(report.Complete());
  std::vector<std::string> leftAlone;
  for (const UndoStep& step : report.steps) {
    if (step.outcome == UndoOutcome::LeftAlone) leftAlone.push_back(step.object);
    EXPECT_NE(step.outcome, UndoOutcome::Failed) << step.object << ": " << step.note;
  }
  // Newest first: the hosts file, Autoexec.bat, then the settings.
  ASSERT_EQ(leftAlone.size(), 3u);
  EXPECT_TRUE(leftAlone[0].ends_with("/drivers/etc/hosts")) << leftAlone[0];
  EXPECT_TRUE(leftAlone[1].ends_with("/autoexec.bat")) << leftAlone[1];
  EXPECT_TRUE(leftAlone[2].ends_with("\\System\\DisableCMD")) << leftAlone[2];
  EXPECT_EQ(ReadFileBytes(damage.Hosts()), "user's own\n");
  EXPECT_EQ(ReadFileBytes(autoexec), "rem mine");
  EXPECT_EQ(Dword("System\\DisableCMD"), 7u);
  EXPECT_TRUE(Exists(damage.Hosts() + ".bak"));  // the old content stays while hosts is not back
  // Everything else is back.
  EXPECT_EQ(Dword("System\\DisableTaskMgr"), 1u);
  EXPECT_TRUE(Exists(damage.wormFile));
  EXPECT_TRUE(ActionHistory()->at(0).undone.empty());  // not completely undone
}

TEST_F(UndoTest, QuarantineIsNeuteredAndGivesTheFileBackWithItsMode) {
  const std::string eicar = prefix.WriteC("windows/eicar.com", Eicar());
  fs::permissions(eicar, fs::perms(0755));
  DetectionList rows;
  rows.AddDetection(eicar, "Eicar-Test-Signature");
  rows.SetChecked(0, true);
  const std::string id = Act("delete", DeleteRows, rows);
  EXPECT_EQ(rows.Row(0).state, RowState::Deleted);
  EXPECT_FALSE(Exists(eicar));

  const fs::path quarantine = InFolder(InFolder(ActionsFolder(), id), kQuarantineFolderName);
  const fs::path item = quarantine / "1.kq";
  ASSERT_TRUE(fs::is_regular_file(item));
  EXPECT_EQ(fs::status(item).permissions(), fs::perms::owner_read | fs::perms::owner_write);
  EXPECT_EQ(ReadFileBytes(item).find("EICAR"), std::string::npos);

  const UndoReport report = UndoAction(id);
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(ReadFileBytes(eicar), Eicar());
  EXPECT_EQ(fs::status(eicar).permissions(), fs::perms(0755));

  // The engine's own scanner: it finds the original, and nothing in the quarantine.
  const std::string db = test::SharedDir() + "/engine-test-db";
  if (std::system("command -v clamscan >/dev/null 2>&1") != 0 || !fs::exists(db + "/main.cvd")) {
    GTEST_SKIP() << "clamscan or the test signature databases are missing";
  }
  const auto clamscan = [&](const std::string& target) {
    const int status = std::system(("clamscan --no-summary --quiet -r -d '" + db + "' '" + target + "'").c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  };
  EXPECT_EQ(clamscan(eicar), 1);
  EXPECT_EQ(clamscan(quarantine.string()), 0);
}

TEST_F(UndoTest, ANoteThatChangedNothingIsListedAndPassedByUndoLast) {
  const std::string eicar = prefix.WriteC("windows/eicar.com", Eicar());
  DetectionList rows;
  rows.AddDetection(eicar, "Eicar-Test-Signature");
  rows.SetChecked(0, true);
  const std::string deleted = Act("delete", DeleteRows, rows);
  {
    JournalWriter note(ActionsFolder(), ActionHeader{{}, {}, "guard: refused", {{"/srv/worm.exe", "Worm.Test"}}});
    ASSERT_TRUE(note.Start()) << note.Error();
    note.KeepWithoutEntries();
  }
  const auto history = ActionHistory();
  ASSERT_TRUE(history) << history.error().reason;
  ASSERT_EQ(history->size(), 2U);
  EXPECT_EQ(history->back().action, "guard: refused");
  EXPECT_EQ(history->back().changes, 0);
  const UndoReport report = UndoAction("last");
  EXPECT_EQ(report.id, deleted);
  EXPECT_TRUE(report.Complete());
  EXPECT_EQ(ReadFileBytes(eicar), Eicar());
}

// An action that changed nothing leaves no records; what of them cannot be
// removed is said, not passed over.
TEST_F(UndoTest, TheRecordsOfAnActionThatChangedNothingGoOrSayWhatStays) {
  const ActionHeader header{{}, {}, "clean", {{"/srv/worm.exe", "Worm.Test"}}};
  std::string stays;
  {
    JournalWriter writer(ActionsFolder(), header);
    ASSERT_TRUE(writer.Start()) << writer.Error();
    stays = platform::IncludeTrailingDelimiter(ActionsFolder()) + writer.Id();
    WriteFileBytes(stays + "/stray", "not the journal's");
    const Status discarded = writer.Discard();
    ASSERT_FALSE(discarded);
    EXPECT_EQ(discarded.error().code, ENOTEMPTY);
    EXPECT_NE(discarded.error().reason.find("stay in " + stays), std::string::npos) << discarded.error().reason;
  }
  EXPECT_EQ(ReadFileBytes(stays + "/stray"), "not the journal's");
  std::string gone;
  {
    JournalWriter writer(ActionsFolder(), header);
    ASSERT_TRUE(writer.Start()) << writer.Error();
    gone = platform::IncludeTrailingDelimiter(ActionsFolder()) + writer.Id();
    EXPECT_TRUE(writer.Discard());
  }
  EXPECT_FALSE(Exists(gone));
}

TEST_F(UndoTest, ADeleteOfTheFileJudgedLeavesAFileSwappedInUnderItsName) {
  const std::string eicar = prefix.WriteC("windows/eicar.com", Eicar());
  const auto folder = platform::Folder::Open(fs::path(eicar).parent_path().string());
  ASSERT_TRUE(folder);
  const auto judged = folder->StatusOf("eicar.com");
  ASSERT_TRUE(judged);
  // The judged file is kept under another name, so that its number is not reused.
  fs::rename(eicar, eicar + ".old");
  WriteFileBytes(eicar, "someone else's letter");
  DetectionList rows;
  rows.AddDetection(eicar, "Eicar-Test-Signature");
  rows.SetChecked(0, true);
  {
    JournalSink sink("guard: quarantined", rows);
    EXPECT_FALSE(sink.DeleteSameFile(*folder, "eicar.com", *judged));
    EXPECT_EQ(sink.ChangesMade(), 0);
  }
  EXPECT_EQ(ReadFileBytes(eicar), "someone else's letter");
  const auto history = ActionHistory();
  ASSERT_TRUE(history);
  EXPECT_TRUE(history->empty());

  const auto now = folder->StatusOf("eicar.com");
  ASSERT_TRUE(now);
  JournalSink sink("guard: quarantined", rows);
  EXPECT_TRUE(sink.DeleteSameFile(*folder, "eicar.com", *now));
  EXPECT_FALSE(Exists(eicar));
}

#ifndef _WIN32
// Runs work in a child process; gives what it returned and how much its peak
// memory grew meanwhile (KiB).
std::pair<std::string, long> InChild(const std::function<std::string()>& work) {
  int fds[2];
  if (::pipe(fds) != 0) return {"no pipe", -1};
  const pid_t pid = ::fork();
  if (pid == 0) {
    ::close(fds[0]);
    rusage before{};
    ::getrusage(RUSAGE_SELF, &before);  // a child's peak starts at what it holds
    const std::string result = work();
    rusage after{};
    ::getrusage(RUSAGE_SELF, &after);
    const std::string out = std::to_string(after.ru_maxrss - before.ru_maxrss) + "\n" + result;
    const ssize_t ignored = ::write(fds[1], out.data(), out.size());
    (void)ignored;
    ::_exit(0);
  }
  ::close(fds[1]);
  std::string out;
  char buffer[4096];
  ssize_t n;
  while ((n = ::read(fds[0], buffer, sizeof buffer)) > 0) out.append(buffer, static_cast<std::size_t>(n));
  ::close(fds[0]);
  ::waitpid(pid, nullptr, 0);
  const std::size_t line = out.find('\n');
  if (line == std::string::npos) return {"the child ended early", -1};
  return {out.substr(line + 1), std::stol(out.substr(0, line))};
}

TEST_F(UndoTest, ALargeFileIsQuarantinedAndGivenBackInBoundedMemory) {
  constexpr off_t kSize = 64 << 20;  // read whole, it would add twice as much at the peak
  const std::string big = prefix.WriteC("big.bin", "head");
  ASSERT_EQ(::truncate(big.c_str(), kSize), 0);
  const auto shaOf = [](const std::string& path) {
    auto file = platform::InputFile::Open(path, platform::ShareMode::DenyNone);
    return file ? platform::Sha256OfFile(*file) : std::nullopt;
  };
  const auto sha = shaOf(big);
  ASSERT_TRUE(sha);
  auto deleteRow = [&] {
    DetectionList rows;
    rows.AddDetection(big, "Some.Other.Virus");
    rows.SetChecked(0, true);
    std::string reason;
    JournalSink sink("delete", rows);
    DeleteRows(rows, platform::DefaultWindowsSystem(), sink, {}, [&](const RowResult& result) { reason = result.reason; });
    return reason;
  };
  // Where the quarantine cannot be written, the row says why and the file stays.
  const std::string refused = InChild([&] {
    ::signal(SIGXFSZ, SIG_IGN);
    const rlimit small{1 << 20, 1 << 20};
    ::setrlimit(RLIMIT_FSIZE, &small);
    return deleteRow();
  }).first;
  EXPECT_TRUE(refused.starts_with("the file could not be deleted: could not be quarantined: ")) << refused;
  EXPECT_NE(refused.find("File too large"), std::string::npos) << refused;
  EXPECT_TRUE(Exists(big));
  EXPECT_TRUE(ActionHistory()->empty()) << "an action that changed nothing left a record";

  const auto [reason, grown] = InChild([&] {
    const std::string deleted = deleteRow();
    const UndoReport report = UndoAction("last");
    return deleted + "|" + (report.Complete() ? "complete" : "incomplete");
  });
  EXPECT_EQ(reason, "|complete");
  EXPECT_LT(grown, kSize / 2 / 1024) << "KiB more at the peak, whatever the size (11 to 19 MiB under ASan, by the machine's load)";
  EXPECT_EQ(shaOf(big), sha);
}
#endif

TEST_F(UndoTest, NothingChangesWhenTheJournalCannotBeWritten) {
  test::TempTree blocked;
  const std::string notAFolder = blocked.Write("data", "a file where the data folder should be");
  DetectionList rows = WormRows();
  JournalSink sink("clean", rows, notAFolder + "/korbu/actions");
  CleanRows(rows, platform::DefaultWindowsSystem(), sink, {}, {});
  EXPECT_FALSE(sink.Error().empty());
  EXPECT_TRUE(Exists(damage.wormFile));
  EXPECT_EQ(Dword("System\\DisableTaskMgr"), 1u);
  EXPECT_TRUE(IsPending(rows.Row(0)));

  std::string all;
  for (int byte = 0; byte < 256; ++byte) all += static_cast<char>(byte);
  EXPECT_EQ(UnescapeBytes(EscapeBytes(all)), all);  // any path or data survives the journal
}

}  // namespace
}  // namespace korbu
