// The repair steps against a prefix with the worm's damage in place.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

#include "DamagedPrefix.h"
#include "platform/Registry.h"
#include "repair/RegistryValues.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::DamagedPrefix;
using test::ReadFileBytes;
using test::RegData;

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

std::string Dword(std::uint32_t v) {
  return std::string{static_cast<char>(v & 0xFF), static_cast<char>((v >> 8) & 0xFF),
                     static_cast<char>((v >> 16) & 0xFF), static_cast<char>(v >> 24)};
}
std::string Sz(std::string_view text) { return platform::RegistryStringData(text); }

class SystemRepairTest : public ::testing::Test {
 protected:
  DamagedPrefix damage;
  test::WinePrefixFixture& prefix = damage.Prefix();
  std::string Local(std::string_view relative) const { return prefix.LocalAppData() + "/" + std::string(relative); }
  std::string Pictures(std::string_view relative) const { return prefix.Pictures() + "/" + std::string(relative); }
  std::string Tasks(std::string_view relative) const { return prefix.WindowsFolder() + "/Tasks/" + std::string(relative); }
};

TEST(IsBrontokVerdictTest, MatchesTheWordInAnyCase) {
  EXPECT_TRUE(IsBrontokVerdict("Brontok.Variant"));
  EXPECT_TRUE(IsBrontokVerdict("Brontok-18R"));
  EXPECT_TRUE(IsBrontokVerdict("Win.Worm.BRONTOK-12"));
  EXPECT_TRUE(IsBrontokVerdict("w32/bRoNtOk"));
  EXPECT_FALSE(IsBrontokVerdict(""));
  EXPECT_FALSE(IsBrontokVerdict("Eicar-Test-Signature"));
  EXPECT_FALSE(IsBrontokVerdict("Bron tok"));
  EXPECT_TRUE(IsBrontokVerdict(std::string(300, 'x') + "brontok"));  // longer than the old 255 limit
}

TEST_F(SystemRepairTest, SettingsAreWrittenBackExactly) {
  EXPECT_TRUE(RepairSystemSettings(*platform::DefaultWindowsSystem()));
  EXPECT_EQ(ReadFileBytes(prefix.WindowsFolder() + "/system.ini"),
            "[boot]\r\nshell=Explorer.exe\r\nsystem.drv=system.drv\r\n");
  const std::string adv = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced\\";
  const std::string pol = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\";
  for (const char* name : {"Hidden", "HideFileExt", "SuperHidden", "ShowSuperHidden"}) {
    EXPECT_EQ(RegData(HKEY_CURRENT_USER, adv + name, platform::kRegDword), Dword(0)) << name;
  }
  for (const char* name : {"Explorer\\NoFolderOptions", "System\\DisableTaskMgr", "System\\DisableRegistryTools",
                           "System\\DisableCMD"}) {
    EXPECT_EQ(RegData(HKEY_CURRENT_USER, pol + name, platform::kRegDword), Dword(0)) << name;
  }
  EXPECT_EQ(RegData(HKEY_LOCAL_MACHINE, "SYSTEM\\CurrentControlSet\\Control\\SafeBoot\\AlternateShell", platform::kRegSz),
            Sz("cmd.exe"));
  const std::string classes = "Software\\Classes\\";
  for (const char* type : {"batfile", "comfile", "exefile", "piffile"}) {
    EXPECT_EQ(RegData(HKEY_LOCAL_MACHINE, classes + type + "\\shell\\open\\command\\", platform::kRegSz),
              Sz("\"%1\" %*"))
        << type;
  }
  EXPECT_EQ(RegData(HKEY_LOCAL_MACHINE, classes + "regfile\\shell\\open\\command\\", platform::kRegSz),
            Sz("regedit.exe \"%1\""));
  EXPECT_EQ(RegData(HKEY_LOCAL_MACHINE, classes + "scrfile\\shell\\open\\command\\", platform::kRegSz),
            Sz("\"%1\" /S"));
  // The Run values are not the settings step's business.
  EXPECT_TRUE(RegData(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\Bron-Spizaetus",
                      platform::kRegSz));
}

TEST_F(SystemRepairTest, FilesBehindLinksAreNotWritten) {
  const std::string hosts = damage.Hosts();
  fs::remove(hosts);
  test::WriteFileBytes(damage.Outside("hosts"), "mine\n");
  fs::create_symlink(damage.Outside("hosts"), hosts);
  EXPECT_TRUE(RepairHostsFile(*platform::DefaultWindowsSystem()));
  EXPECT_EQ(ReadFileBytes(damage.Outside("hosts")), "mine\n");
  EXPECT_FALSE(Exists(hosts + ".bak"));

  fs::remove(prefix.WindowsFolder() + "/system.ini");
  const std::string elsewhere = damage.Outside("real.ini");
  test::WriteFileBytes(elsewhere, "[boot]\nshell=x\n");
  fs::create_symlink(elsewhere, prefix.WindowsFolder() + "/SYSTEM.INI");
  EXPECT_FALSE(RepairSystemSettings(*platform::DefaultWindowsSystem()));  // the link is refused, and says so
  EXPECT_EQ(ReadFileBytes(elsewhere), "[boot]\nshell=x\n");
  EXPECT_TRUE(fs::is_symlink(prefix.WindowsFolder() + "/SYSTEM.INI"));
}

TEST_F(SystemRepairTest, WormFilesGoToTheTrashButLockedAndLinkedOnesDoNot) {
  test::FileLock lock(Local("Bron-locked.dat"));
  ASSERT_TRUE(lock.Held());
  fs::permissions(Local("Bron-locked.dat"), fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_TRUE(DeleteWormFiles(*platform::DefaultWindowsSystem()));

  EXPECT_FALSE(Exists(Local("a/b/c/.Bronto.exe")));
  EXPECT_EQ(ReadFileBytes(damage.Trashed(".Bronto.exe")), "deep");
  EXPECT_FALSE(Exists(Local("Bronze.txt")));
  EXPECT_EQ(ReadFileBytes(damage.Trashed("Bronze.txt")), "user file");  // restorable, not lost
  EXPECT_FALSE(Exists(Local(".bronhidden/Bron1.exe")));
  EXPECT_TRUE(Exists(Local(".bronhidden/keep.txt")));
  EXPECT_TRUE(Exists(Local("a/b/c")));  // folders stay
  EXPECT_TRUE(Exists(Local("bron/worm.dll")));

  // In use: stays, but without its read-only flag.
  EXPECT_EQ(ReadFileBytes(Local("Bron-locked.dat")), "in use");
  EXPECT_NE(fs::status(Local("Bron-locked.dat")).permissions() & fs::perms::owner_write, fs::perms::none);

  // A link is moved as a link; nothing behind a link is touched.
  EXPECT_FALSE(Exists(Local("Bron-link.txt")));
  EXPECT_TRUE(fs::is_symlink(damage.Trashed("Bron-link.txt")));
  EXPECT_EQ(ReadFileBytes(damage.Outside("target.txt")), "link target");
  EXPECT_EQ(ReadFileBytes(damage.Outside("Bronx.txt")), "outside");
  EXPECT_TRUE(Exists(Local("notes.txt")));
}

TEST_F(SystemRepairTest, VisibleWormFoldersGoToTheTrash) {
  EXPECT_TRUE(DeleteWormFolders(*platform::DefaultWindowsSystem()));
  EXPECT_FALSE(Exists(Local("bron")));
  EXPECT_EQ(ReadFileBytes(damage.Trashed("bron/worm.dll")), "folder content");
  EXPECT_EQ(ReadFileBytes(damage.Trashed("Bronze.txt")), "user file");
  EXPECT_TRUE(Exists(Local(".bronhidden/Bron1.exe")));  // hidden: not listed
  EXPECT_TRUE(Exists(Local("notes.txt")));
  EXPECT_EQ(ReadFileBytes(damage.Outside("Bronx.txt")), "outside");
}

TEST_F(SystemRepairTest, AutoexecGoesOnlyWhenItIsExactlyPause) {
  const std::string autoexec = prefix.DriveC("autoexec.bat");
  for (const char* kept : {"pause\r\n", "echo off\r\npause", " pause"}) {
    test::WriteFileBytes(autoexec, kept);
    EXPECT_TRUE(RepairAutoexec(*platform::DefaultWindowsSystem()));
    EXPECT_EQ(ReadFileBytes(autoexec), kept);
  }
  test::WriteFileBytes(autoexec, "PAUSE");
  EXPECT_TRUE(RepairAutoexec(*platform::DefaultWindowsSystem()));
  EXPECT_FALSE(Exists(autoexec));
}

TEST_F(SystemRepairTest, HostsFileIsResetToLoopbackAndTheOldOneKept) {
  const std::string hosts = damage.Hosts();
  test::WriteFileBytes(hosts + ".bak", "an older backup");
  EXPECT_TRUE(RepairHostsFile(*platform::DefaultWindowsSystem()));
  EXPECT_EQ(ReadFileBytes(hosts), "127.0.0.1\tlocalhost");
  EXPECT_EQ(ReadFileBytes(hosts + ".bak"), "an older backup");
  EXPECT_EQ(ReadFileBytes(hosts + ".bak.1"), "127.0.0.1 localhost\n10.1.2.3 intranet\n");

  EXPECT_TRUE(RepairHostsFile(*platform::DefaultWindowsSystem()));  // already sound: no further backup
  EXPECT_FALSE(Exists(hosts + ".bak.2"));
  EXPECT_EQ(ReadFileBytes(hosts), "127.0.0.1\tlocalhost");
}

TEST_F(SystemRepairTest, MarkedPagesGoOnlyFromThePicturesFolderItself) {
  EXPECT_TRUE(DeleteMarkedHtmlFiles(*platform::DefaultWindowsSystem()));
  EXPECT_FALSE(Exists(Pictures("big.html")));
  EXPECT_TRUE(Exists(Pictures("plain.html")));      // other letter case
  EXPECT_TRUE(Exists(Pictures("sub/deep.html")));   // subfolders are not examined
  EXPECT_TRUE(Exists(Pictures("locked.html")));     // read-only
}

// Wine links "Pictures" to the user's own folder: that link is the folder named,
// but a link to anywhere outside the home is not.
TEST_F(SystemRepairTest, MarkedPagesGoFromWinesLinkIntoTheHomeOnly) {
  const std::string page = ReadFileBytes(Pictures("big.html"));
  fs::remove_all(prefix.Pictures());
  for (const std::string& target : {damage.Outside("pictures"), damage.Home("Pictures")}) {
    fs::create_directories(target);
    std::ofstream(target + "/big.html", std::ios::binary) << page;
    fs::remove(prefix.Pictures());
    fs::create_directory_symlink(target, prefix.Pictures());
    EXPECT_TRUE(DeleteMarkedHtmlFiles(*platform::DefaultWindowsSystem()));
    EXPECT_EQ(Exists(target + "/big.html"), target == damage.Outside("pictures")) << target;
  }
}

TEST_F(SystemRepairTest, JobFilesNeedMarkAAndEitherOther) {
  EXPECT_TRUE(DeleteWormTasks(*platform::DefaultWindowsSystem()));
  EXPECT_FALSE(Exists(Tasks("A-and-C.job")));
  EXPECT_FALSE(Exists(Tasks("A-and-B.job")));
  EXPECT_TRUE(Exists(Tasks("B-and-C.job")));
  EXPECT_TRUE(Exists(Tasks("other-case.job")));
}

TEST_F(SystemRepairTest, CleanSystemOnAMissingFileStillRepairs) {
  const CleanResult result = CleanSystem(*platform::DefaultWindowsSystem(), prefix.DriveC("windows/gone.exe"));
  EXPECT_FALSE(result.deleted);
  EXPECT_TRUE(result.repaired) << result.repaired.Reason();
  EXPECT_FALSE(Exists(prefix.DriveC("autoexec.bat")));
  EXPECT_EQ(ReadFileBytes(damage.Hosts()), "127.0.0.1\tlocalhost");
  EXPECT_FALSE(Exists(Tasks("A-and-C.job")));
  EXPECT_FALSE(Exists(Local("bron")));
  EXPECT_EQ(RegData(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableCMD",
                    platform::kRegDword),
            Dword(0));
  EXPECT_TRUE(Exists(damage.wormFile));
}

TEST_F(SystemRepairTest, DeleteInfectedFileTakesOnlyARegularFile) {
  fs::permissions(damage.wormFile, fs::perms::owner_write, fs::perm_options::remove);
  EXPECT_TRUE(DeleteInfectedFile(damage.wormFile));
  EXPECT_FALSE(Exists(damage.wormFile));
  EXPECT_FALSE(DeleteInfectedFile(damage.wormFile));

  const std::string link = prefix.DriveC("windows/link.exe");
  fs::create_symlink(damage.Outside("target.txt"), link);
  EXPECT_FALSE(DeleteInfectedFile(link));
  EXPECT_EQ(ReadFileBytes(damage.Outside("target.txt")), "link target");
  EXPECT_FALSE(DeleteInfectedFile(prefix.WindowsFolder()));
  EXPECT_TRUE(fs::is_directory(prefix.WindowsFolder()));
}

TEST_F(SystemRepairTest, DeleteRegistryDetectionRemovesOnlyTheValue) {
  const std::string run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run\\";
  const std::string before = prefix.Snapshot();
  for (const char* bad : {"HKEY_CURRENT_USER", "HKEY_CURRENT_USER\\Bron-Spizaetus", "hkey_current_user\\x\\y",
                          "HKEY_NOWHERE\\Software\\x", "C:\\windows\\x.exe"}) {
    EXPECT_FALSE(DeleteRegistryDetection(*platform::DefaultWindowsSystem(), bad)) << bad;
  }
  EXPECT_EQ(prefix.Snapshot(), before);

  EXPECT_TRUE(DeleteRegistryDetection(*platform::DefaultWindowsSystem(), "HKEY_CURRENT_USER\\" + run + "Bron-Spizaetus"));
  EXPECT_EQ(RegistryValuePresence(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, run + "Bron-Spizaetus"), ValuePresence::Absent);
  EXPECT_EQ(RegistryValuePresence(*platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, run + "Keep"), ValuePresence::Present);
  EXPECT_FALSE(DeleteRegistryDetection(*platform::DefaultWindowsSystem(), "HKEY_CURRENT_USER\\" + run + "Bron-Spizaetus"));
}

TEST_F(SystemRepairTest, APreviewChangesNothingAndTellsWhatWouldChange) {
  const std::string before = prefix.Snapshot();
  PreviewSink preview;
  EXPECT_TRUE(CleanSystem(*platform::DefaultWindowsSystem(), damage.wormFile, preview).deleted);
  EXPECT_EQ(prefix.Snapshot(), before);
  EXPECT_FALSE(Exists(damage.Trashed("")));

  auto find = [&](ChangeKind kind, const std::string& target) -> const PlannedChange* {
    for (const auto& change : preview.Changes()) {
      if (change.kind == kind && change.target == target) return &change;
    }
    return nullptr;
  };
  EXPECT_TRUE(find(ChangeKind::DeleteFile, damage.wormFile));
  EXPECT_TRUE(find(ChangeKind::MoveToTrash, Local("Bronze.txt")));
  EXPECT_TRUE(find(ChangeKind::MoveToTrash, Local("bron")));
  EXPECT_TRUE(find(ChangeKind::DeleteFile, Tasks("A-and-C.job")));
  EXPECT_FALSE(find(ChangeKind::DeleteFile, Tasks("B-and-C.job")));
  const auto* task = find(ChangeKind::WriteRegistry,
                          "HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr");
  ASSERT_TRUE(task);
  EXPECT_EQ(task->before, "dword:1");
  EXPECT_EQ(task->after, "dword:0");
  const auto* hosts = find(ChangeKind::ReplaceFile, damage.Hosts());
  ASSERT_TRUE(hosts);
  EXPECT_EQ(hosts->before, "127.0.0.1 localhost\n10.1.2.3 intranet\n");
  EXPECT_EQ(hosts->backup, damage.Hosts() + ".bak");
  const auto* ini = find(ChangeKind::WriteIniValue, prefix.WindowsFolder() + "/system.ini [boot] shell");
  ASSERT_TRUE(ini);
  EXPECT_EQ(ini->before, "\"Explorer.exe C:\\windows\\sempalong.exe\"");
  EXPECT_EQ(DescribeChange(*hosts).find('\n'), std::string::npos);
}

TEST(NoPrefixTest, NothingOutsideAWindowsSystemIsTouched) {
  test::TempTree home;
  home.Write("Bronze.txt", "mine");
  home.Write(".local/share/Bron.txt", "mine");
  home.Write("AppData/Local/Bron.txt", "mine");
  home.Write("Pictures/page.html", "JowoBot #VM Community");
  test::ScopedEnvironment prefixVar("WINEPREFIX", home.Path("no-prefix"));
  test::ScopedEnvironment homeVar("HOME", home.Path());
  test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
  const fs::path cwd = fs::current_path();
  fs::current_path(home.Root());
  EXPECT_FALSE(CleanSystem(*platform::DefaultWindowsSystem(), home.Path("missing.exe")).deleted);
  fs::current_path(cwd);
  for (const char* name : {"Bronze.txt", ".local/share/Bron.txt", "AppData/Local/Bron.txt", "Pictures/page.html"}) {
    EXPECT_EQ(ReadFileBytes(home.Path(name)), name[0] == 'P' ? "JowoBot #VM Community" : "mine") << name;
  }
  EXPECT_FALSE(fs::exists(home.Path("data")));
}

}  // namespace
}  // namespace korbu
