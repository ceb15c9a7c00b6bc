// The text forms that /proc and the NT kernel give process images in.
#include <gtest/gtest.h>

#include "platform/posix/ProcessImage.h"
#include "platform/wine/WineProcessImage.h"
#include "services/ProcList.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
using namespace platform::posix;
using namespace platform::wine;

TEST(FixUpImagePath, DropsTheNtPrefixesExactly) {
  const std::string windows = "C:\\WINDOWS";
  EXPECT_EQ(FixUpImagePath("\\??\\C:\\WINDOWS\\system32\\winlogon.exe", windows),
            "C:\\WINDOWS\\system32\\winlogon.exe");
  EXPECT_EQ(FixUpImagePath("\\SystemRoot\\System32\\smss.exe", windows), "C:\\WINDOWS\\System32\\smss.exe");
  // Exact letter case only, one rule only, anything else unchanged.
  EXPECT_EQ(FixUpImagePath("\\systemroot\\System32\\smss.exe", windows), "\\systemroot\\System32\\smss.exe");
  EXPECT_EQ(FixUpImagePath("\\??\\\\SystemRoot\\x.exe", windows), "\\SystemRoot\\x.exe");
  EXPECT_EQ(FixUpImagePath("\\?\\C:\\x.exe", windows), "\\?\\C:\\x.exe");
  EXPECT_EQ(FixUpImagePath("/usr/bin/sleep", windows), "/usr/bin/sleep");
  EXPECT_EQ(FixUpImagePath("", windows), "");
}

TEST(ParseProcStat, CountsFieldsFromTheLastParenthesis) {
  const std::string tail = " S 1 2 3 0 -1 4194560 10 0 0 0 5 6 0 0 20 0 7 0 99 1000 50\n";
  auto plain = ParseProcStat("42 (sleep)" + tail);
  ASSERT_TRUE(plain.has_value());
  EXPECT_EQ(plain->priority, 20);
  EXPECT_EQ(plain->threadCount, 7);
  EXPECT_EQ(plain->flags, 4194560u);
  EXPECT_EQ(plain->parent, 1u);
  auto odd = ParseProcStat("42 (a) S 9 (b) c)" + tail);
  ASSERT_TRUE(odd.has_value());
  EXPECT_EQ(odd->threadCount, 7);
  auto realtime = ParseProcStat("1 (rt) S 1 2 3 0 -1 0 0 0 0 0 0 0 0 0 -51 0 2");
  ASSERT_TRUE(realtime.has_value());
  EXPECT_EQ(realtime->priority, -51);
  EXPECT_EQ(realtime->threadCount, 2);

  EXPECT_FALSE(ParseProcStat("42 (sleep) S 1 2 3 0 -1 0 0 0 0 0 5 6 0 0 20 0").has_value());
  EXPECT_FALSE(ParseProcStat("42 sleep S 1 2 3 0 -1 0 0 0 0 0 5 6 0 0 20 0 7").has_value());
  EXPECT_FALSE(ParseProcStat("42 (x) S 1 2 3 0 -1 0 0 0 0 0 5 6 0 0 20 0 7x").has_value());
  EXPECT_FALSE(ParseProcStat("").has_value());
}

TEST(FindMappedFile, MatchesTheFileNameIgnoringCase) {
  const std::string maps =
      "7f0000000000-7f0000001000 r-xp 00000000 fe:00 111 /usr/lib/wine/x86_64-windows/kernel32.dll\n"
      "7f0000002000-7f0000003000 rw-p 00000000 00:00 0 \n"
      "7f0000004000-7f0000005000 rw-p 00000000 00:00 0    [heap]\n"
      "140000000-140001000 r--p 00000000 fe:01 10977402                   /tmp/dir With Space/Sleeper.EXE\n"
      "150000000-150001000 r--p 00000000 08:1f 77  /tmp/gone/Worm.exe (deleted)\n";
  auto found = FindMappedFile(maps, "sleeper.exe");
  ASSERT_TRUE(found.has_value());
  EXPECT_EQ(found->path, "/tmp/dir With Space/Sleeper.EXE");
  EXPECT_EQ(found->devMajor, 0xfeu);
  EXPECT_EQ(found->devMinor, 1u);
  EXPECT_EQ(found->inode, 10977402u);
  auto gone = FindMappedFile(maps, "WORM.EXE");
  ASSERT_TRUE(gone.has_value());
  EXPECT_EQ(gone->path, "/tmp/gone/Worm.exe (deleted)");
  EXPECT_EQ(gone->devMajor, 8u);
  EXPECT_EQ(gone->devMinor, 0x1fu);
  EXPECT_FALSE(FindMappedFile(maps, "Sleeper").has_value());
  EXPECT_FALSE(FindMappedFile(maps, "[heap]").has_value());
  EXPECT_FALSE(FindMappedFile("garbage", "garbage").has_value());
}

TEST(WineProcess, LoaderIsNotTheServerOrAFolderNamedWine) {
  EXPECT_TRUE(IsWineLoader("/usr/lib/wine/wine64"));
  EXPECT_TRUE(IsWineLoader("/opt/wine/bin/wine64-preloader"));
  EXPECT_FALSE(IsWineLoader("/usr/lib/wine/wineserver64"));
  EXPECT_FALSE(IsWineLoader("/home/u/wine64/sleep"));
  EXPECT_EQ(WineProgramName("C:\\windows\\system32\\services.exe"), "services.exe");
  EXPECT_EQ(WineProgramName("/tmp/dir With Space/Sleeper.EXE"), "Sleeper.EXE");
}

TEST(MapWindowsPathInPrefix, ResolvesEachPartIgnoringCase) {
  test::TempTree tree;
  tree.Write("drive_c/Worm/Sl2.exe", "MZ");
  tree.Write("drive_c/Worm/sl2.EXE.bak", "MZ");
  tree.MakeDir("dosdevices");
  std::filesystem::create_directory_symlink("../drive_c", tree.Path("dosdevices/c:"));
  const std::string prefix = tree.Path();
  const std::string expected = prefix + "/dosdevices/c:/Worm/Sl2.exe";
  EXPECT_EQ(MapWindowsPathInPrefix("C:\\worm\\SL2.exe", prefix), expected);
  EXPECT_EQ(MapWindowsPathInPrefix("c:/Worm//./Sl2.exe", prefix), expected);
  EXPECT_EQ(MapWindowsPathInPrefix("C:\\Worm\\missing.exe", prefix), "");
  EXPECT_EQ(MapWindowsPathInPrefix("C:\\Worm", prefix), "") << "a folder is no image";
  EXPECT_EQ(MapWindowsPathInPrefix("C:\\Worm\\..\\Worm\\Sl2.exe", prefix), "");
  EXPECT_EQ(MapWindowsPathInPrefix("D:\\Worm\\Sl2.exe", prefix), "");
  EXPECT_EQ(MapWindowsPathInPrefix("\\Worm\\Sl2.exe", prefix), "");
}

}  // namespace
}  // namespace korbu
