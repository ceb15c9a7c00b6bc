// The location a window starts with: a folder as it is, a file as its folder and
// the one file to scan, options passed over, and nothing for a name that is not there.

#include <gtest/gtest.h>

#include <filesystem>

#include "support/TempTree.h"
#include "ui/StartLocation.h"

namespace korbu {
namespace {

namespace fs = std::filesystem;

std::string Text(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

TEST(StartLocation, AFolderIsItselfAFileItsFolderAndAMissingNameNothing) {
  test::TempTree tree;
  const std::string file = tree.Write("docs/sempalong.exe", "MZ");
  const std::string docs = Text(fs::path(tree.Path()) / "docs");
  EXPECT_EQ(FolderToSelect(docs), docs);
  EXPECT_EQ(FolderToSelect(docs + "/"), docs);
  EXPECT_EQ(FolderToSelect(file), docs);
  EXPECT_EQ(FolderToSelect(docs + "/../docs/./sempalong.exe"), docs);
  EXPECT_EQ(FolderToSelect(docs + "/gone.exe"), "");
  EXPECT_EQ(FolderToSelect(""), "");
  // A relative name is taken from the current folder.
  const fs::path before = fs::current_path();
  fs::current_path(tree.Path());
  EXPECT_EQ(FolderToSelect("docs"), Text(fs::absolute("docs").lexically_normal()));
  fs::current_path(before);
  // A name outside ASCII comes back as it went in.
  const std::string chinese = tree.Write("\xE4\xB8\xAD\xE6\x96\x87/x.txt", "x");
  EXPECT_EQ(FolderToSelect(chinese), Text(fs::path(tree.Path()) / fs::path(u8"\u4E2D\u6587")));
}

TEST(StartLocation, TheFirstArgumentThatIsNoOptionNamesIt) {
  test::TempTree tree;
  const std::string file = tree.Write("a/worm.exe", "MZ");
  const std::string folder = Text(fs::path(tree.Path()) / "a");
  EXPECT_EQ(StartLocation({}), "");
  EXPECT_EQ(StartLocation({"-x", file}), folder);
  EXPECT_EQ(StartLocation({"--", "-"}), "");
  tree.Write("-odd/y.txt", "y");
  EXPECT_EQ(StartLocation({"--", Text(fs::path(tree.Path()) / "-odd")}),
            Text(fs::path(tree.Path()) / "-odd"));
  EXPECT_EQ(StartLocation({file, "/elsewhere"}), folder);
}

TEST(StartLocation, OnlyARegularFileIsScannedAloneAndFoldersCompareAsWritten) {
  test::TempTree tree;
  const std::string file = tree.Write("a/worm.exe", "MZ");
  const std::string folder = Text(fs::path(tree.Path()) / "a");
  EXPECT_EQ(FileToScan(folder + "/./worm.exe"), Text(fs::path(folder) / "worm.exe"));
  EXPECT_EQ(FileToScan(folder), "");
  EXPECT_EQ(FileToScan(folder + "/gone.exe"), "");
  EXPECT_EQ(FileToScan(""), "");
  EXPECT_EQ(StartFile({"-x", file}), Text(fs::path(file).lexically_normal()));
  EXPECT_EQ(StartFile({folder}), "");

  EXPECT_TRUE(SameFolder(folder, folder + "/"));
  EXPECT_TRUE(SameFolder(FolderToSelect(file), folder));
  EXPECT_FALSE(SameFolder(folder, folder + "b"));
  EXPECT_FALSE(SameFolder("", ""));  // nothing selected is no folder
#ifdef _WIN32
  EXPECT_TRUE(SameFolder("C:\\Users\\A", "c:/users/a\\"));
#else
  EXPECT_FALSE(SameFolder("/tmp/A", "/tmp/a"));
#endif
}

}  // namespace
}  // namespace korbu
