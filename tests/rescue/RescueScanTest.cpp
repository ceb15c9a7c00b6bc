// korbu-scan --windows through the real binary, on a folder laid out like a
// Windows volume whose worm settings are merged into its hives with
// hivexregedit: listed, cleaned for every user, undone, and refused where
// writing could lose data.
#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <optional>
#include <string>

#include "platform/rescue/HiveImage.h"
#include "platform/rescue/HiveLogs.h"
#include "rescue/HiveFixture.h"
#include "rescue/HiveLogForge.h"
#include "support/PrivateMounts.h"
#include "rescue/RealHives.h"
#include "rescue/WindowsVolume.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu::test {
namespace {

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kPolicies = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System";
constexpr const char* kExeCommand = "Classes\\exefile\\shell\\open\\command";
constexpr const char* kWormValue = "Tok-Cirrhatus";

// The worm as it leaves an installation: a Run value of alice's naming its file,
// bob's tools locked, the machine's programs opened through it.
class InfectedVolume {
 public:
  /// prepare: changes the volume's hives before the worm comes.
  explicit InfectedVolume(const std::function<void(const WindowsVolume&)>& prepare = {}) {
    if (prepare) prepare(volume_);
    worm_ = volume_.Write("Users/alice/AppData/Local/smss.exe", VariantFile(1));
    Merge(volume_.UserHive("alice"), "HKEY_CURRENT_USER", kRun,
          "\"Tok-Cirrhatus\"=\"C:\\\\Users\\\\alice\\\\AppData\\\\Local\\\\smss.exe\"\n");
    Merge(volume_.UserHive("bob"), "HKEY_CURRENT_USER", kPolicies,
          "\"DisableTaskMgr\"=dword:00000001\n\"DisableRegistryTools\"=dword:00000001\n");
    Merge(volume_.Software(), "HKEY_LOCAL_MACHINE\\SOFTWARE", kExeCommand,
          "@=\"C:\\\\Users\\\\alice\\\\AppData\\\\Local\\\\smss.exe \\\"%1\\\" %*\"\n");
  }

  static std::string Unavailable() {
    return RunCommand("command -v hivexregedit").status == 0 ? std::string()
                                                             : "hivexregedit is not installed (libwin-hivex-perl)";
  }

  const WindowsVolume& Volume() const { return volume_; }
  /// The folder of the recorded actions.
  std::string Actions() const { return data_.Path("data/korbu/actions"); }
  const std::string& Worm() const { return worm_; }

  // korbu-scan with data and cache folders of its own, no Wine prefix and the
  // own detection alone.
  std::string Command(const std::string& args) const {
    return "env XDG_DATA_HOME=" + ShellQuote(data_.Path("data")) + " XDG_CACHE_HOME=" +
           ShellQuote(data_.Path("cache")) + " WINEPREFIX=/nonexistent-prefix " + ShellQuote(KORBU_SCAN_EXE) +
           " --no-engine " + args;
  }
  ScriptRun Scan(const std::string& args) const {
    return RunCommand(Command("--windows " + ShellQuote(volume_.Root()) + " " + args));
  }

  std::optional<HiveData> RunValue() const { return ReadHiveValue(volume_.UserHive("alice"), kRun, kWormValue); }
  std::optional<HiveData> TaskMgr(const char* user) const {
    return ReadHiveValue(volume_.UserHive(user), kPolicies, "DisableTaskMgr");
  }
  std::optional<HiveData> ExeCommand() const { return ReadHiveValue(volume_.Software(), kExeCommand, ""); }

 private:
  // A .reg file merged into a hive, as hivexregedit takes it: each key above
  // the one given its own section.
 public:
  static void Merge(const std::string& hive, const std::string& prefix, const std::string& keyPath,
                    const std::string& values) {
    std::string reg = "Windows Registry Editor Version 5.00\n";
    for (std::size_t cut = keyPath.find('\\'); cut != std::string::npos; cut = keyPath.find('\\', cut + 1)) {
      reg += "\n[" + prefix + "\\" + keyPath.substr(0, cut) + "]\n";
    }
    reg += "\n[" + prefix + "\\" + keyPath + "]\n" + values;
    TempTree tree;
    const std::string file = tree.Write("worm.reg", reg);
    const ScriptRun merged = RunCommand("hivexregedit --merge --prefix " + ShellQuote(prefix) + " " +
                                        ShellQuote(hive) + " " + ShellQuote(file));
    ASSERT_EQ(merged.status, 0) << merged.output << reg;
  }

 private:

  WindowsVolume volume_;
  TempTree data_;
  std::string worm_;
};

bool Has(const ScriptRun& run, const std::string& text) { return run.output.find(text) != std::string::npos; }

TEST(RescueScan, ListsCleansForEveryUserAndUndoesExactly) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  InfectedVolume infected;
  const auto runValue = infected.RunValue();
  const auto bobTaskMgr = infected.TaskMgr("bob");
  const auto exeCommand = infected.ExeCommand();
  ASSERT_TRUE(runValue && bobTaskMgr && exeCommand);

  // Without PATH the users' folders are walked; the Run value is alice's.
  const ScriptRun scan = infected.Scan("");
  EXPECT_EQ(scan.status, 1) << scan.output;
  // Listed as the scan spells the Run key.
  EXPECT_TRUE(Has(scan, std::string("HKEY_USERS\\") + kAliceSid + "\\SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run\\" +
                            kWormValue))
      << scan.output;
  EXPECT_FALSE(Has(scan, "ERROR")) << scan.output;
  EXPECT_TRUE(Has(scan, infected.Worm())) << scan.output;
  EXPECT_EQ(infected.RunValue(), runValue) << "a scan changes nothing";

  const ScriptRun clean = infected.Scan("--clean");
  EXPECT_TRUE(Has(clean, "Recorded as action ")) << clean.output;
  EXPECT_FALSE(std::filesystem::exists(infected.Worm()));
  EXPECT_FALSE(infected.RunValue());
  EXPECT_EQ(infected.TaskMgr("bob"), (HiveData{4, DwordData(0)}));
  EXPECT_EQ(infected.TaskMgr("carol"), (HiveData{4, DwordData(0)})) << "every user's settings are repaired";
  EXPECT_EQ(infected.ExeCommand(), (HiveData{1, StringData("\"%1\" %*")}));

  // The record names the volume: undoing needs no --windows.
  const ScriptRun undo = RunCommand(infected.Command("--undo last"));
  EXPECT_EQ(undo.status, 0) << undo.output;
  EXPECT_EQ(ReadFileBytes(infected.Worm()), VariantFile(1));
  EXPECT_EQ(infected.RunValue(), runValue);
  EXPECT_EQ(infected.TaskMgr("bob"), bobTaskMgr);
  EXPECT_EQ(infected.ExeCommand(), exeCommand);
  EXPECT_TRUE(HiveValueNames(infected.Volume().UserHive("carol"), kPolicies).empty());
}

// Each refusal leaves every hive and file as it was, says why, and lists the rows.
void ExpectRefused(const InfectedVolume& infected, const ScriptRun& clean, const std::string& reason) {
  EXPECT_EQ(clean.status, 1) << clean.output;
  EXPECT_TRUE(Has(clean, reason)) << clean.output;
  EXPECT_TRUE(Has(clean, std::string("HKEY_USERS\\") + kAliceSid)) << clean.output;
  EXPECT_FALSE(Has(clean, "Recorded as action")) << clean.output;
  EXPECT_TRUE(std::filesystem::exists(infected.Worm()));
  EXPECT_TRUE(infected.RunValue());
  EXPECT_EQ(infected.TaskMgr("bob"), (HiveData{4, DwordData(1)}));
}

TEST(RescueScan, RefusesToWriteAHibernatedWindowsOrADirtyHive) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  InfectedVolume infected;
  const std::string hiberfil = infected.Volume().Write("hiberfil.sys", "HIBR" + std::string(4092, '\0'));
  ExpectRefused(infected, infected.Scan("--clean"), "fast start-up");

  std::filesystem::remove(hiberfil);
  MarkHiveDirty(infected.Volume().UserHive("carol"));
  ExpectRefused(infected, infected.Scan("--delete"), "is dirty");
}

// The scan and the dry run say beforehand what --clean would refuse, naming
// every hive concerned; a dry run lists no change that changes nothing.
TEST(RescueScan, RefusalsAreSeenBeforeTheyBite) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  InfectedVolume infected;
  HiveEdit(infected.Volume().UserHive("carol")).SetDword(kPolicies, "DisableTaskMgr", 0).Commit();
  const ScriptRun preview = infected.Scan("--clean --dry-run");
  EXPECT_FALSE(Has(preview, "dword:0 -> dword:0")) << preview.output;
  EXPECT_TRUE(Has(preview, "dword:1 -> dword:0")) << preview.output;
  EXPECT_FALSE(Has(preview, "will change nothing")) << preview.output;

  MarkHiveDirty(infected.Volume().UserHive("carol"));
  MarkHiveDirty(infected.Volume().UserHive("bob"));
  for (const char* args : {"", "--clean --dry-run"}) {
    const ScriptRun run = infected.Scan(args);
    EXPECT_TRUE(Has(run, "--clean and --delete will change nothing")) << args << run.output;
    EXPECT_TRUE(Has(run, infected.Volume().UserHive("carol") + " is dirty")) << args << run.output;
    EXPECT_TRUE(Has(run, infected.Volume().UserHive("bob") + " is dirty")) << args << run.output;
  }
  EXPECT_TRUE(infected.RunValue());
}

// A dirty hive whose logs replay is read as Windows reads it, said so, and is
// no reason to refuse; a clean that changes nothing in it leaves it untouched.
TEST(RescueScan, ReadsADirtySystemHiveWithItsLogs) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  InfectedVolume infected;
  const std::string config = infected.Volume().Path("Windows/System32/config");
  if (!PlaceRealHive("regipy_SYSTEM_B", config, "SYSTEM") ||
      !PlaceRealHive("regipy_SYSTEM_B.LOG1", config, "SYSTEM.LOG1") ||
      !PlaceRealHive("regipy_SYSTEM_B.LOG2", config, "SYSTEM.LOG2")) {
    GTEST_SKIP() << "no ../shared/test-hives (or no xz to unpack them)";
  }
  const std::string system = FileBytes(infected.Volume().System());
  const ScriptRun clean = infected.Scan("--clean");
  EXPECT_TRUE(Has(clean, infected.Volume().System() + " is read with its transaction logs replayed (SYSTEM.LOG1, "
                                                       "SYSTEM.LOG2)"))
      << clean.output;
  EXPECT_TRUE(Has(clean, "Recorded as action ")) << clean.output;
  EXPECT_FALSE(infected.RunValue());
  EXPECT_TRUE(FileBytes(infected.Volume().System()) == system) << "SYSTEM had nothing to change";
}

// A real Windows 7 user hive: the worm's Run value goes, the real one beside it
// and a value too big for one cell stay byte for byte, and the undo brings it back.
TEST(RescueScan, CleansARealUserHiveKeepingTheValuesBeside) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  bool placed = false;
  InfectedVolume infected([&](const WindowsVolume& volume) {
    placed = PlaceRealHive("regipy_NTUSER.DAT", volume.Path("Users/alice"), "NTUSER.DAT");
    std::string big = "\"Blob\"=hex:";
    for (int i = 0; i < 20000; ++i) big += (i == 0 ? "" : ",") + std::string(i % 2 ? "5a" : "a5");
    if (placed) InfectedVolume::Merge(volume.UserHive("alice"), "HKEY_CURRENT_USER", kRun, big + "\n");
  });
  if (!placed) GTEST_SKIP() << "no ../shared/test-hives (or no xz to unpack them)";
  const std::string alice = infected.Volume().UserHive("alice");
  const auto sidebar = ReadHiveValue(alice, kRun, "Sidebar");
  const auto blob = ReadHiveValue(alice, kRun, "Blob");
  const auto runValue = infected.RunValue();
  ASSERT_TRUE(sidebar && blob && runValue);
  ASSERT_EQ(blob->data.size(), 20000u);

  const ScriptRun clean = infected.Scan("--clean");
  EXPECT_TRUE(Has(clean, "Recorded as action ")) << clean.output;
  EXPECT_FALSE(Has(clean, "ERROR")) << clean.output;
  EXPECT_FALSE(infected.RunValue());
  EXPECT_EQ(ReadHiveValue(alice, kRun, "Sidebar"), sidebar);
  EXPECT_EQ(ReadHiveValue(alice, kRun, "Blob"), blob);
  const ScriptRun shell = RunCommand("hivexsh -w " + ShellQuote(alice) + " < /dev/null 2>&1");
  EXPECT_EQ(shell.status, 0) << shell.output;

  const ScriptRun undo = RunCommand(infected.Command("--undo last"));
  EXPECT_EQ(undo.status, 0) << undo.output;
  EXPECT_EQ(infected.RunValue(), runValue);
  EXPECT_EQ(ReadHiveValue(alice, kRun, "Blob"), blob);
}

TEST(RescueScan, RefusesToWriteAReadOnlyMount) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  if (const std::string why = PrivateMountsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  InfectedVolume infected;
  const std::string root = ShellQuote(infected.Volume().Root());
  const ScriptRun clean = RunWithPrivateMounts("mount --bind " + root + " " + root + "\nmount -o remount,bind,ro " +
                                               root + "\n" + infected.Command("--windows " + root + " --clean") +
                                               " 2>&1 || echo \"status $?\"\n");
  EXPECT_TRUE(Has(clean, "status 1")) << clean.output;
  ScriptRun refused{1, clean.output};
  ExpectRefused(infected, refused, "mounted read-only");
}

// The same on a real NTFS file system through ntfs-3g, as a rescue meets it: the
// hives are copied out after the clean and after the undo and read back here.
TEST(RescueScan, CleansAndUndoesOnAnNtfsVolume) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  if (const std::string why = NtfsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  if (RunCommand("command -v setfattr && command -v getfattr").status != 0) {
    GTEST_SKIP() << "setfattr and getfattr are not installed (attr)";
  }
  InfectedVolume infected;
  const auto runValue = infected.RunValue();
  const auto bobTaskMgr = infected.TaskMgr("bob");
  TempTree work;
  const std::string mnt = ShellQuote(work.MakeDir("mnt"));
  const std::string out = work.MakeDir("out");
  const auto copyHives = [&](const std::string& to) {
    return "mkdir " + ShellQuote(out + "/" + to) + "\ncp " + mnt + "/Users/alice/NTUSER.DAT " +
           ShellQuote(out + "/" + to + "/alice") + "\ncp " + mnt + "/Users/bob/NTUSER.DAT " +
           ShellQuote(out + "/" + to + "/bob") + "\n";
  };
  const std::string image = ShellQuote(work.Path("ntfs.img"));
  // What NTFS keeps of alice's hive beside its content (hidden, system): given
  // before the clean, shown after it and after the undo.
  const std::string hive = ShellQuote(work.Path("mnt") + "/Users/alice/NTUSER.DAT");
  const auto extras = [&](const std::string& when) {
    const auto value = [&](const std::string& name) {
      return "$(getfattr --absolute-names -e hex -n " + name + " " + hive + " | sed -n 's/^" + name + "=//p')";
    };
    return "echo " + when + " " + value("system.ntfs_attrib") + " " + value("system.ntfs_acl") + "\n";
  };
  const ScriptRun run = RunWithPrivateMounts(
      "truncate -s 32M " + image + "\nmkntfs -F -q -f " + image + " >/dev/null\nntfs-3g " + image + " " + mnt +
      "\ncp -a " + ShellQuote(infected.Volume().Root()) + "/. " + mnt + "/\n" +
      "setfattr -n system.ntfs_attrib -v 0x26000000 " + hive + "\n" + extras("before") + infected.Command("--windows " + mnt + " --clean") + " || true\n" +
      copyHives("clean") + extras("clean") + "test -e " + mnt + "/Users/alice/AppData/Local/smss.exe || echo worm-gone\n" +
      infected.Command("--undo last") + " && echo undo-complete\n" + copyHives("undo") + extras("undo") + "test -e " +
      mnt + "/Users/alice/AppData/Local/smss.exe && echo worm-back\numount " + mnt + "\n");
  ASSERT_EQ(run.status, 0) << run.output;
  const std::string lines = "\n" + run.output;
  const auto shown = [&](const std::string& when) {
    const std::size_t at = lines.find("\n" + when + " ");
    if (at == std::string::npos) return std::string();
    const std::size_t start = at + 1 + when.size();
    return lines.substr(start, lines.find('\n', start) - start);
  };
  EXPECT_TRUE(shown("before").starts_with(" 0x26000000 0x")) << run.output;
  EXPECT_EQ(shown("clean"), shown("before")) << run.output;
  EXPECT_EQ(shown("undo"), shown("before")) << run.output;
  EXPECT_TRUE(Has(run, "Recorded as action ")) << run.output;
  EXPECT_TRUE(Has(run, "worm-gone") && Has(run, "undo-complete") && Has(run, "worm-back")) << run.output;
  EXPECT_FALSE(ReadHiveValue(out + "/clean/alice", kRun, kWormValue));
  EXPECT_EQ(ReadHiveValue(out + "/clean/bob", kPolicies, "DisableTaskMgr"), (HiveData{4, DwordData(0)}));
  EXPECT_EQ(ReadHiveValue(out + "/undo/alice", kRun, kWormValue), runValue);
  EXPECT_EQ(ReadHiveValue(out + "/undo/bob", kPolicies, "DisableTaskMgr"), bobTaskMgr);
}

// The files the clean kept whole, in every action's quarantine.
std::vector<std::string> KeptItems(const InfectedVolume& infected) {
  std::vector<std::string> items;
  std::error_code error;
  for (const auto& entry : std::filesystem::recursive_directory_iterator(infected.Actions(), error)) {
    if (entry.path().extension() == ".kept") items.push_back(entry.path().string());
  }
  return items;
}

// The real dirty Windows 10 SYSTEM hive, the worm's safe-mode shell only in its
// logs (one more entry, as Windows appends them): the clean sees and mends it,
// writes the recovered hive whole as Windows takes a clean hive, keeps the hive
// and its logs as they were, and the undo puts back their exact bytes.
TEST(RescueScan, ADirtyHiveCleanedWholeIsUndoneToItsExactBytes) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  const auto primary = RealHive("regipy_SYSTEM_B");
  const auto log1 = RealHive("regipy_SYSTEM_B.LOG1");
  const auto log2 = RealHive("regipy_SYSTEM_B.LOG2");
  if (!primary || !log1 || !log2) GTEST_SKIP() << "no ../shared/test-hives (or no xz to unpack them)";
  std::string recovered = *primary;
  const auto replay = platform::rescue::ReplayLogs(recovered, {{"SYSTEM.LOG1", *log1}, {"SYSTEM.LOG2", *log2}});
  ASSERT_TRUE(replay) << replay.Reason();
  std::string infectedHive = recovered;
  ASSERT_GT(RewriteValueData(infectedHive, "AlternateShell", StringData("cmd.exe"), StringData("wrm.exe")), 0);
  const std::string planted = WithLogEntry(*log2, replay->sequence + 1, recovered, infectedHive);

  InfectedVolume infected;
  const std::string config = infected.Volume().Path("Windows/System32/config");
  const std::string system = infected.Volume().System();
  WriteFileBytes(system, *primary);
  WriteFileBytes(config + "/SYSTEM.LOG1", *log1);
  WriteFileBytes(config + "/SYSTEM.LOG2", planted);
  constexpr const char* kSafeBoot = "ControlSet001\\Control\\SafeBoot";
  ASSERT_EQ(ReadHiveValue(system, kSafeBoot, "AlternateShell"), (HiveData{1, StringData("cmd.exe")}))
      << "the file alone holds the sound shell: the worm's is in the logs only";

  const ScriptRun clean = infected.Scan("--clean");
  EXPECT_TRUE(Has(clean, "Recorded as action ")) << clean.output;
  EXPECT_TRUE(Has(clean, system + " is read with its transaction logs replayed (SYSTEM.LOG1, SYSTEM.LOG2)"))
      << clean.output;
  EXPECT_FALSE(infected.RunValue());
  // Windows' view of the file written: clean (both sequence numbers one past the
  // logs' last entry), a right checksum, the sound shell in the file itself.
  const std::string written = FileBytes(system);
  EXPECT_EQ(platform::rescue::Le32At(written, platform::rescue::base::kPrimarySequence), replay->sequence + 2) << clean.output;
  EXPECT_EQ(platform::rescue::Le32At(written, platform::rescue::base::kSecondarySequence), replay->sequence + 2);
  EXPECT_TRUE(platform::rescue::ChecksumRight(written));
  EXPECT_EQ(ReadHiveValue(system, kSafeBoot, "AlternateShell"), (HiveData{1, StringData("cmd.exe")}));
  const ScriptRun shell = RunCommand("hivexsh " + ShellQuote(system) + " < /dev/null 2>&1");
  EXPECT_EQ(shell.status, 0) << shell.output;
  EXPECT_TRUE(FileBytes(config + "/SYSTEM.LOG1") == *log1 && FileBytes(config + "/SYSTEM.LOG2") == planted)
      << "the clean leaves the logs, which Windows ignores beside a clean hive";
  EXPECT_GE(KeptItems(infected).size(), 3u) << "SYSTEM, its two logs and the user hives written";

  const ScriptRun undo = RunCommand(infected.Command("--undo last"));
  EXPECT_EQ(undo.status, 0) << undo.output;
  TempTree originals;
  for (const auto& [name, bytes] : {std::pair{"SYSTEM", *primary}, {"SYSTEM.LOG1", *log1}, {"SYSTEM.LOG2", planted}}) {
    const ScriptRun same =
        RunCommand("cmp " + ShellQuote(config + "/" + name) + " " + ShellQuote(originals.Write(name, bytes)) + " 2>&1");
    EXPECT_EQ(same.status, 0) << name << ": " << same.output;
  }
  EXPECT_TRUE(KeptItems(infected).empty()) << "the kept copies go once they are back";
  EXPECT_TRUE(infected.RunValue());
}

// A hive that changed since the clean wrote it is not put back whole: its values
// are set back one by one, what came later stays, and the copies stay kept. A
// hive unchanged since is put back byte for byte all the same.
TEST(RescueScan, AHiveChangedSinceTheCleanIsUndoneValueByValue) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  InfectedVolume infected;
  const auto runValue = infected.RunValue();
  const std::string bob = FileBytes(infected.Volume().UserHive("bob"));
  const ScriptRun clean = infected.Scan("--clean");
  ASSERT_TRUE(Has(clean, "Recorded as action ")) << clean.output;
  ASSERT_FALSE(infected.RunValue());
  InfectedVolume::Merge(infected.Volume().UserHive("alice"), "HKEY_CURRENT_USER", "Software\\Later",
                        "\"Since\"=dword:00000001\n");

  const ScriptRun undo = RunCommand(infected.Command("--undo last"));
  EXPECT_EQ(undo.status, 1) << undo.output;
  EXPECT_TRUE(Has(undo, "its values are set back one by one instead")) << undo.output;
  EXPECT_EQ(infected.RunValue(), runValue);
  EXPECT_EQ(ReadHiveValue(infected.Volume().UserHive("alice"), "Software\\Later", "Since"), (HiveData{4, DwordData(1)}));
  EXPECT_TRUE(FileBytes(infected.Volume().UserHive("bob")) == bob);
  EXPECT_FALSE(KeptItems(infected).empty());
}

// Real user hives of Windows XP and 7 in one volume, the worm's settings
// merged in: the clean writes each so that hivexsh reads it and mends what it
// should, and the undo gives every one of them back byte for byte.
TEST(RescueScan, RealHivesAreCleanedAndUndoneToTheirExactBytes) {
  if (const std::string why = InfectedVolume::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  bool placed = true;
  InfectedVolume infected([&](const WindowsVolume& volume) {
    placed = PlaceRealHive("regipy_NTUSER.DAT", volume.Path("Users/alice"), "NTUSER.DAT") &&
             PlaceRealHive("plaso_NTUSER.DAT", volume.Path("Users/bob"), "NTUSER.DAT") &&
             PlaceRealHive("plaso_NTUSER-WIN7.DAT", volume.Path("Users/carol"), "NTUSER.DAT");
  });
  if (!placed) GTEST_SKIP() << "no ../shared/test-hives (or no xz to unpack them)";
  const WindowsVolume& volume = infected.Volume();
  const std::vector<std::string> hives = {volume.UserHive("alice"), volume.UserHive("bob"), volume.UserHive("carol"),
                                          volume.System(), volume.Software()};
  std::vector<std::string> before;
  for (const std::string& hive : hives) before.push_back(FileBytes(hive));

  const ScriptRun clean = infected.Scan("--clean");
  EXPECT_TRUE(Has(clean, "Recorded as action ")) << clean.output;
  EXPECT_FALSE(Has(clean, "ERROR")) << clean.output;
  EXPECT_FALSE(infected.RunValue());
  EXPECT_EQ(infected.TaskMgr("bob"), (HiveData{4, DwordData(0)}));
  for (const std::string& hive : hives) {
    const ScriptRun shell = RunCommand("hivexsh " + ShellQuote(hive) + " < /dev/null 2>&1");
    EXPECT_EQ(shell.status, 0) << hive << ": " << shell.output;
  }

  const ScriptRun undo = RunCommand(infected.Command("--undo last"));
  EXPECT_EQ(undo.status, 0) << undo.output;
  for (std::size_t i = 0; i < hives.size(); ++i) EXPECT_TRUE(FileBytes(hives[i]) == before[i]) << hives[i];
}

}  // namespace
}  // namespace korbu::test
