// Reading the mount table, and which mounts count as removable volumes.

#include <gtest/gtest.h>

#include "guard/MountTable.h"

namespace korbu::guard {
namespace {

TEST(MountTableTest, ReadsMountPointsTypesAndDevicesPastOptionalFields) {
  const std::string text =
      "22 1 0:21 / /proc rw,nosuid shared:5 - proc proc rw\n"
      "97 29 8:17 / /media/user/MY\\040STICK rw,nosuid shared:51 master:3 - vfat /dev/sdb1 rw\n"
      "not a mount line\n"
      "98 29 0:50 / /run/a\\134b\\012c rw - tmpfs none rw\n"
      "99 29 0:51 / /no/separator rw tmpfs none rw\n";
  const std::vector<MountEntry> mounts = ParseMountInfo(text);
  ASSERT_EQ(mounts.size(), 3U);
  EXPECT_EQ(mounts[0].mountPoint, "/proc");
  EXPECT_EQ(mounts[1].id, 97);
  EXPECT_EQ(mounts[1].mountPoint, "/media/user/MY STICK");
  EXPECT_EQ(mounts[1].type, "vfat");
  EXPECT_EQ(mounts[1].major, 8U);
  EXPECT_EQ(mounts[1].minor, 17U);
  // A backslash and a line break in a mount point come back as they are.
  EXPECT_EQ(mounts[2].mountPoint, "/run/a\\b\nc");
}

TEST(MountTableTest, MountsBelowTheVolumeFoldersAreRemovableButNotTheFoldersNorAServersVolume) {
  const std::vector<std::string> folders{"/media", "/run/media/"};
  MountEntry mount;
  mount.mountPoint = "/media/STICK";
  EXPECT_TRUE(IsRemovable(mount, folders));
  mount.mountPoint = "/run/media/user/disk";
  EXPECT_TRUE(IsRemovable(mount, folders));
  mount.mountPoint = "/media";
  EXPECT_FALSE(IsRemovable(mount, folders));
  // A server's volume could hold the guard's reads as long as it likes.
  mount.mountPoint = "/media/share";
  mount.type = "fuse.sshfs";
  EXPECT_FALSE(IsRemovable(mount, folders));
  mount.type = "vfat";
  // A name that only begins like a volume folder is not below it.
  mount.mountPoint = "/mediaserver/share";
  EXPECT_FALSE(IsRemovable(mount, folders));
  EXPECT_TRUE(IsBelow("/a/b", "/"));
  EXPECT_FALSE(IsBelow("/a/b", ""));
}

}  // namespace
}  // namespace korbu::guard
