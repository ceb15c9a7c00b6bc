// A repair the system refuses in part: the row stays pending with the first
// failure in words, and every other step is still done. The refusals are real
// ones: root's files and folders in a prefix that belongs to "nobody", cleaned
// as "nobody".
#include <gtest/gtest.h>

#ifndef _WIN32
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <functional>
#include <iostream>

#include "DamagedPrefix.h"
#include "detect/WithoutRoot.h"
#include "platform/FolderHandle.h"
#include "platform/Registry.h"
#include "repair/RowActions.h"
#include "support/NobodysFiles.h"
#include "scan/RegistryLocations.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;

constexpr const char* kTaskMgr = "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr";

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

// Root's, as the system's own files are: nobody may change them.
void KeepForRoot(const std::string& path, unsigned mode) { ASSERT_TRUE(test::KeepForRoot(path, mode)) << path; }

// A check run as "nobody" that says what it saw when it fails.
bool Holds(bool condition, const std::string& what) {
  if (!condition) std::cerr << "not so: " << what << "\n";
  return condition;
}

class RefusedRepairTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "files the cleaning user may not change need root to arrange";
    for (const std::string& root : {damage.Prefix().Folder(), damage.Home(), damage.Outside()}) {
      ASSERT_TRUE(test::GiveToNobody(root)) << root;
    }
  }

  std::string Windows(std::string_view relative) const { return prefix.WindowsFolder() + "/" + std::string(relative); }
  std::string Tasks() const { return Windows("Tasks"); }

  // Cleans the worm row as "nobody"; the row must stay pending with a reason
  // that starts so, and what each step not refused repairs must be repaired.
  void ExpectPendingWith(const std::string& start, const std::function<bool()>& restRepaired) {
    const auto passed = test::RunWithoutRoot([&] {
      DetectionList rows;
      rows.AddDetection(damage.wormFile, "Brontok-1");
      rows.SetChecked(0, true);
      std::vector<RowResult> results;
      CleanRows(rows, platform::DefaultWindowsSystem(), ApplyChanges(), nullptr, [&](const RowResult& r) { results.push_back(r); });
      bool ok = Holds(results.size() == 1, "one result");
      if (!ok) return false;
      ok &= Holds(!results[0].handled && rows.Row(0).checked && rows.Row(0).state == RowState::Failed, "pending");
      ok &= Holds(results[0].reason.starts_with(start), "the reason is \"" + results[0].reason + "\"");
      ok &= Holds(!Exists(damage.wormFile), "the worm file went");
      ok &= Holds(!Exists(prefix.DriveC("autoexec.bat")), "autoexec.bat went");
      ok &= Holds(test::RegData(HKEY_CURRENT_USER, kTaskMgr, platform::kRegDword) == std::string(4, '\0'),
                  "the task manager is allowed again");
      return ok && restRepaired();
    });
    ASSERT_TRUE(passed.has_value()) << "cannot run as nobody";
    EXPECT_TRUE(*passed) << "see the lines above";
  }

  bool IniRepaired() const { return ReadFileBytes(Windows("system.ini")).find("shell=Explorer.exe\r\n") != std::string::npos; }
  bool HostsRepaired() const { return ReadFileBytes(damage.Hosts()) == "127.0.0.1\tlocalhost"; }
  bool TasksDeleted() const { return !Exists(Tasks() + "/A-and-C.job") && !Exists(Tasks() + "/A-and-B.job"); }

  test::DamagedPrefix damage;
  test::WinePrefixFixture& prefix = damage.Prefix();
};

TEST_F(RefusedRepairTest, AnUnwritableSystemIniKeepsTheRowPending) {
  // Root's file in a folder anyone may add to, but only owners remove from.
  KeepForRoot(Windows("system.ini"), 0644);
  KeepForRoot(prefix.WindowsFolder(), 01777);
  const std::string before = ReadFileBytes(Windows("system.ini"));
  ExpectPendingWith("the repair could not set system.ini [boot] shell: ", [&] {
    return Holds(ReadFileBytes(Windows("system.ini")) == before, "system.ini is as it was") &&
           Holds(HostsRepaired(), "hosts repaired") && Holds(TasksDeleted(), "tasks deleted");
  });
}

TEST_F(RefusedRepairTest, AnUnwritableHostsFolderKeepsTheRowPending) {
  const std::string etc = prefix.SystemFolder() + "/drivers/etc";
  KeepForRoot(damage.Hosts(), 0644);
  KeepForRoot(etc, 0755);
  ExpectPendingWith("the repair could not reset " + etc + "/hosts: ", [&] {
    return Holds(!HostsRepaired() && !Exists(damage.Hosts() + ".bak"), "hosts left, no backup") &&
           Holds(IniRepaired(), "system.ini repaired") && Holds(TasksDeleted(), "tasks deleted");
  });
}

TEST_F(RefusedRepairTest, AnUnwritableTasksFolderKeepsTheRowPending) {
  KeepForRoot(Tasks(), 0755);
  ExpectPendingWith("the repair could not delete " + Tasks() + "/", [&] {
    return Holds(Exists(Tasks() + "/A-and-C.job") && Exists(Tasks() + "/A-and-B.job"), "the tasks stay") &&
           Holds(IniRepaired(), "system.ini repaired") && Holds(HostsRepaired(), "hosts repaired");
  });
}

// Whatever an earlier call left in errno, a refusal gives its own reason.
TEST(RefusedChangeTest, ClearingTheAttributesOfALinkSaysItIsALink) {
  test::TempTree tree;
  tree.Write("target", "x");
  fs::create_symlink(tree.Path("target"), tree.Path("link"));
  const auto folder = platform::Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  errno = ENOSPC;
  const Status cleared = ApplyChanges().ClearAttributes(*folder, "link");
  ASSERT_FALSE(cleared);
  EXPECT_NE(cleared.error().reason.find("link"), std::string::npos) << cleared.error().reason;
  EXPECT_EQ(cleared.error().reason.find(std::strerror(ENOSPC)), std::string::npos) << cleared.error().reason;
  errno = EROFS;
  const Status deleted = ApplyChanges().DeleteFile(*folder, "missing");
  ASSERT_FALSE(deleted);
  EXPECT_EQ(deleted.error().code, ENOENT) << deleted.error().reason;
}

}  // namespace
}  // namespace korbu
#endif  // _WIN32
