// Verdicts kept only where nobody can change the bytes behind the file system's
// back, through the real korbu-scan run by root in a mount namespace of its own:
// another user's loop-mounted image rewritten while unmounted, a volume mounted
// again, and a disk whose node another user may write or that can be taken away.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <string>

#include "support/PrivateMounts.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using nlohmann::json;
using test::ShellQuote;

const char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

class VolumeTrust : public testing::Test {
 protected:
  void SetUp() override {
    if (std::string why = test::PrivateMountsUnavailable(); !why.empty()) GTEST_SKIP() << why;
    database_ = test::SharedDir() + "/engine-test-db";
    // The other user reaches her image below the tree.
    fs::permissions(tree_.Root(), fs::perms::owner_all | fs::perms::group_exec | fs::perms::others_exec);
    tree_.Write("eicar", kEicar);
    fs::permissions(tree_.Path("eicar"), fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }

  // The start of every script: names, and scan NAME FOLDER [OPTION...] writing
  // NAME.json of a scan of FOLDER; $DB names the test databases.
  std::string Prelude() const {
    return "D=" + ShellQuote(tree_.Path()) + "\nDB=" + ShellQuote(database_) + "\n" +
           "her() { setpriv --reuid=65534 --regid=65534 --clear-groups \"$@\"; }\n"
           "scan() { name=$1; folder=$2; shift 2; env XDG_CACHE_HOME=\"$D/cache\" WINEPREFIX=/nonexistent-prefix " +
           ShellQuote(KORBU_SCAN_EXE) +
           " --no-memory --no-registry --json \"$@\" \"$folder\" >\"$D/$name.json\" 2>>\"$D/err\" || true; }\n"
           // A verdict is kept only for a file changed in an earlier clock tick.
           "tick() { sleep 0.05; }\n";
  }

  json Report(const std::string& name) const {
    return json::parse(test::ReadFileBytes(tree_.Path(name + ".json")), nullptr, false);
  }
  static long long Cache(const json& report, const char* figure) {
    return report.is_object() ? report["cache"][figure].get<long long>() : -1;
  }
  static std::string VirusOf(const json& report, const std::string& file) {
    if (!report.is_object()) return "no report";
    for (const json& d : report["detections"]) {
      if (d["file"] == file) return d["virus"];
    }
    return {};
  }

  test::TempTree tree_;
  std::string database_;
};

TEST_F(VolumeTrust, AnImageRewrittenWhileUnmountedIsJudgedAgain) {
  if (::access("/dev/loop-control", R_OK | W_OK) != 0) GTEST_SKIP() << "no loop devices (/dev/loop-control)";
  if (test::SharedDir().empty() || !fs::exists(database_ + "/main.cvd")) GTEST_SKIP() << "no shared test databases";
  if (test::RunCommand("command -v mkfs.ext4 && command -v debugfs && command -v setpriv").status != 0) {
    GTEST_SKIP() << "mkfs.ext4, debugfs (e2fsprogs) or setpriv (util-linux) is not installed";
  }
  const test::ScriptRun run = test::RunWithPrivateMounts(
      Prelude() +
      "mkdir \"$D/her\" \"$D/mnt\"\n"
      "chown 65534:65534 \"$D/her\"\n"
      "her truncate -s 8M \"$D/her/stick.img\"\n"
      "her mkfs.ext4 -q -F -b 4096 \"$D/her/stick.img\"\n"
      "LOOP=$(losetup -f)\n"
      "mount -o loop=\"$LOOP\" \"$D/her/stick.img\" \"$D/mnt\"\n"
      // As many bytes as the test file, so that only the data block tells them apart.
      "printf '%068d' 0 >\"$D/mnt/tool.com\"\n"
      "chown 65534:65534 \"$D/mnt/tool.com\"\n"
      "tick\n"
      "scan first \"$D/mnt\" --database \"$DB\"\n"
      "scan second \"$D/mnt\" --database \"$DB\"\n"
      "umount \"$D/mnt\"\n"
      // Her edit: the file's data block, its inode (size, times) untouched.
      "BLOCK=$(debugfs -R 'bmap /tool.com 0' \"$D/her/stick.img\" 2>/dev/null)\n"
      "her dd if=\"$D/eicar\" of=\"$D/her/stick.img\" bs=4096 seek=\"$BLOCK\" conv=notrunc status=none\n"
      // Mounted again on the same loop device, as the first free one.
      "mount -o loop=\"$LOOP\" \"$D/her/stick.img\" \"$D/mnt\"\n"
      "scan third \"$D/mnt\" --database \"$DB\"\n"
      "umount \"$D/mnt\"\n");
  ASSERT_EQ(run.status, 0) << run.output << test::ReadFileBytes(tree_.Path("err"));
  const std::string file = tree_.Path("mnt/tool.com");
  const json first = Report("first");
  const json second = Report("second");
  ASSERT_TRUE(first.is_object() && first["engine"]["active"].get<bool>()) << test::ReadFileBytes(tree_.Path("err"));
  EXPECT_EQ(VirusOf(first, file), "");
  EXPECT_EQ(Cache(second, "from_cache"), 0) << "a loop device's file system is never cached";
  EXPECT_EQ(Cache(second, "not_cacheable"), 1);
  EXPECT_EQ(VirusOf(Report("third"), file), "Eicar-Test-Signature");
}

TEST_F(VolumeTrust, AVerdictHoldsOnlyOnTheMountItWasMadeOn) {
  // A file system in memory stays whole while one of its mounts goes and comes back.
  const test::ScriptRun run = test::RunWithPrivateMounts(
      Prelude() +
      "mkdir \"$D/volume\" \"$D/again\"\n"
      "mount -t tmpfs -o size=1m none \"$D/volume\"\n"
      "mkdir \"$D/volume/t\"\n"
      "printf 'plain text' >\"$D/volume/t/notes.txt\"\n"
      "mount --bind \"$D/volume/t\" \"$D/again\"\n"
      "tick\n"
      "scan first \"$D/again\" --no-engine\n"
      "scan second \"$D/again\" --no-engine\n"
      "umount \"$D/again\"\n"
      "mount --bind \"$D/volume/t\" \"$D/again\"\n"
      "scan remounted \"$D/again\" --no-engine\n"
      "scan other \"$D/volume/t\" --no-engine\n"
      "umount \"$D/again\" \"$D/volume\"\n");
  ASSERT_EQ(run.status, 0) << run.output << test::ReadFileBytes(tree_.Path("err"));
  ASSERT_EQ(Cache(Report("second"), "from_cache"), 1) << "the file system in memory should be cached"
                                                       << test::ReadFileBytes(tree_.Path("err"));
  EXPECT_EQ(Cache(Report("remounted"), "from_cache"), 0) << "the verdict of an earlier mount";
  EXPECT_EQ(Cache(Report("remounted"), "not_cacheable"), 0);
  EXPECT_EQ(Cache(Report("other"), "from_cache"), 0) << "the verdict of another mount";
}

TEST_F(VolumeTrust, ADiskAnotherUserMayWriteOrTakeAwayIsNeverCached) {
  // The test folder's own disk, seen through a /dev of the script's own whose node
  // for it changes owner and mode, and with a removable flag laid over its own.
  const test::ScriptRun run = test::RunWithPrivateMounts(
      Prelude() +
      "mkdir \"$D/t\"\n"
      "printf 'plain text' >\"$D/t/notes.txt\"\n"
      "tick\n"
      "scan first \"$D/t\" --no-engine\n"
      "scan cached \"$D/t\" --no-engine\n"
      "VOLUME=$(readlink -f \"/sys/dev/block/$(stat -c '%Hd:%Ld' \"$D/t\")\")\n"
      "DISK=$VOLUME\n"
      "[ -e \"$VOLUME/partition\" ] && DISK=$(dirname \"$VOLUME\")\n"
      "name() { sed -n 's/^DEVNAME=//p' \"$1/uevent\"; }\n"
      "NODE=/dev/$(name \"$VOLUME\")\n"
      "mount -t tmpfs -o mode=755 none /dev\n"
      "for F in \"$VOLUME\" \"$DISK\"; do\n"
      "  N=/dev/$(name \"$F\"); NUMBER=$(cat \"$F/dev\")\n"
      "  mkdir -p \"$(dirname \"$N\")\"; [ -e \"$N\" ] || mknod -m 600 \"$N\" b \"${NUMBER%%:*}\" \"${NUMBER##*:}\"\n"
      "done\n"
      "scan root-only \"$D/t\" --no-engine\n"
      "chown 65534 \"$NODE\"; scan hers \"$D/t\" --no-engine; chown 0 \"$NODE\"\n"
      "chmod 602 \"$NODE\"; scan others-write \"$D/t\" --no-engine; chmod 600 \"$NODE\"\n"
      "chgrp 65534 \"$NODE\"; chmod 620 \"$NODE\"; scan her-group-writes \"$D/t\" --no-engine; chgrp 0 \"$NODE\"; chmod 600 \"$NODE\"\n"
      "echo 1 >\"$D/one\"\n"
      "mount --bind \"$D/one\" \"$DISK/removable\"\n"
      "scan removable \"$D/t\" --no-engine\n"
      "umount \"$DISK/removable\" /dev\n");
  ASSERT_EQ(run.status, 0) << run.output << test::ReadFileBytes(tree_.Path("err"));
  if (Cache(Report("cached"), "from_cache") != 1) {
    GTEST_SKIP() << "the test folder is on a volume the cache does not trust here: " << Report("cached").dump();
  }
  EXPECT_EQ(Cache(Report("root-only"), "from_cache"), 1) << "the disk's node as root's alone";
  for (const char* name : {"hers", "others-write", "her-group-writes", "removable"}) {
    EXPECT_EQ(Cache(Report(name), "from_cache"), 0) << name;
    EXPECT_EQ(Cache(Report(name), "not_cacheable"), 1) << name;
  }
}

}  // namespace
}  // namespace korbu
