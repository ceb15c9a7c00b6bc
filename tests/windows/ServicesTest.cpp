// The services the repair relies on, over the Win32 backend.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "detect/ExecutableFile.h"
#include "detect/VariantTable.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "services/FileUtils.h"
#include "services/ProcList.h"
#include "services/ShellUtils.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {

std::string HolderProgram() {
  return platform::IncludeTrailingDelimiter(platform::ExtractFilePath(platform::ExecutablePath())) +
         "windows_test_holder.exe";
}

bool HolderRuns(const std::string& image) {
  auto paths = GetProcessPaths();
  if (!paths) return false;
  for (const auto& p : *paths) {
    if (platform::SameFileName(p, image)) return true;
  }
  return false;
}

TEST(WindowsServices, LockedWhileAnotherProgramHoldsItAndFreeAfterItsKill) {
  test::TempTree tree;
  const std::string file = tree.Write("locked.dat", "x");
  // A copy of the holder under a name of its own, so that only this one is killed,
  // forged to carry a worm variant's checksum as the scanner would find it.
  const std::string holder = tree.Path("holder-copy.exe");
  if (!platform::FileExists(HolderProgram())) GTEST_SKIP() << "helper program not built";
  auto bytes = platform::ReadWholeFile(HolderProgram(), platform::ShareMode::DenyNone);
  ASSERT_TRUE(bytes);
  test::WriteFileBytes(holder, test::ForgeFileWithCrc(*bytes, VariantCrcTable[0]));
  auto crc = FileCrc32(holder);
  ASSERT_TRUE(crc);
  EXPECT_EQ(*crc, VariantCrcTable[0]);
  EXPECT_FALSE(IsFileLocked(file));
  EXPECT_FALSE(IsFileLocked(tree.Path("missing")));
  FILE* pipe = ::_popen(("\"\"" + holder + "\" \"" + file + "\"\"").c_str(), "r");
  ASSERT_NE(pipe, nullptr);
  char line[16] = {};
  ASSERT_NE(std::fgets(line, sizeof line, pipe), nullptr);
  EXPECT_TRUE(IsFileLocked(file));
  ASSERT_TRUE(HolderRuns(holder));
  KillProcessByPath(holder);
  ::_pclose(pipe);
  EXPECT_FALSE(HolderRuns(holder));
  EXPECT_FALSE(IsFileLocked(file));
}

TEST(WindowsServices, RecyclesAndFindsTheShellFolders) {
  test::TempTree tree;
  const std::string file = tree.Write("gone\\x.exe", "MZ");
  EXPECT_TRUE(RecycleFile(file));
  EXPECT_FALSE(platform::FileExists(file));
  EXPECT_TRUE(RecycleFile(tree.Path("gone")));
  EXPECT_FALSE(RecycleFile(tree.Path("gone")));
  EXPECT_TRUE(platform::DirectoryExists(GetSpecialFolderPath(*platform::DefaultWindowsSystem(), 28)));
}

}  // namespace
}  // namespace korbu
