#include <gtest/gtest.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/Path.h"
#include "services/FileUtils.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::TempTree;

bool OwnerMayWrite(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

void MakeReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
}

// Holds an exclusive advisory lock on a file, as another program using it would.
class HeldLock {
 public:
  explicit HeldLock(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
    locked_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
  }
  ~HeldLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  bool Locked() const { return locked_; }

 private:
  int fd_;
  bool locked_ = false;
};

TEST(ClearFileAttributes, GivesWriteBackButNeverThroughALink) {
  TempTree tree;
  const std::string file = tree.Write("ro.txt", "x");
  MakeReadOnly(file);
  EXPECT_TRUE(ClearFileAttributes(file));
  EXPECT_TRUE(OwnerMayWrite(file));

  const std::string target = tree.Write("target.txt", "x");
  MakeReadOnly(target);
  fs::create_symlink(target, tree.Path("link.txt"));
  EXPECT_FALSE(ClearFileAttributes(tree.Path("link.txt")));
  EXPECT_FALSE(OwnerMayWrite(target));
  EXPECT_FALSE(ClearFileAttributes(tree.Path("missing.txt")));
}

TEST(IsFileLocked, TrueOnlyForAnExistingFileInUse) {
  TempTree tree;
  const std::string file = tree.Write("a.exe", "MZ");
  EXPECT_FALSE(IsFileLocked(tree.Path("missing.exe")));
  EXPECT_FALSE(IsFileLocked(tree.Path()));
  EXPECT_FALSE(IsFileLocked(file));
  {
    HeldLock lock(file);
    ASSERT_TRUE(lock.Locked());
    EXPECT_TRUE(IsFileLocked(file));
  }
  EXPECT_FALSE(IsFileLocked(file));
  // A running program's image cannot be opened for writing.
  const std::string self = platform::ExecutablePath();
  if (self.empty()) GTEST_SKIP() << "the test program's own path is unknown";
  EXPECT_TRUE(IsFileLocked(self));
}

TEST(DeleteFilesRecursive, DeletesMatchingFilesAtAnyDepthAndLeavesTheRest) {
  TempTree tree;
  TempTree outside;
  const std::string plain = tree.Write("a.Bron.exe", "1");
  const std::string upper = tree.Write("WINBRONTOK.EXE", "1");
  const std::string readOnly = tree.Write("ro.Bron.txt", "1");
  MakeReadOnly(readOnly);
  const std::string hidden = tree.Write(".hidden.Bron.sys", "1");
  const std::string deep = tree.Write("l1/l2/l3/.deep.Bron.dat", "1");
  MakeReadOnly(deep);
  const std::string keepTop = tree.Write("keep.txt", "1");
  const std::string keepDeep = tree.Write("l1/l2/l3/keep.dat", "1");
  const std::string inMatchingFolder = tree.Write("l1/Bron.d/x.txt", "1");
  const std::string locked = tree.Write("l1/locked.Bron.exe", "1");
  MakeReadOnly(locked);
  const std::string victim = outside.Write("victim.Bron.txt", "1");
  const std::string target = outside.Write("target.Bron.txt", "1");
  fs::create_directory_symlink(outside.Path(), tree.Path("l1/linkdir"));
  fs::create_symlink(target, tree.Path("link.Bron.txt"));

  HeldLock lock(locked);
  ASSERT_TRUE(lock.Locked());
  DeleteFilesRecursive(tree.Path("*Bron*.*"));

  for (const auto& gone : {plain, upper, readOnly, hidden, deep}) {
    EXPECT_FALSE(fs::exists(fs::symlink_status(gone))) << gone;
  }
  EXPECT_FALSE(fs::exists(fs::symlink_status(tree.Path("link.Bron.txt"))));
  for (const auto& kept : {keepTop, keepDeep, inMatchingFolder, victim, target}) {
    EXPECT_TRUE(fs::exists(kept)) << kept;
  }
  EXPECT_TRUE(fs::is_directory(tree.Path("l1/Bron.d")));
  EXPECT_TRUE(fs::is_directory(tree.Path("l1/l2/l3")));
  // The file in use stays, but without its read-only flag.
  EXPECT_TRUE(fs::exists(locked));
  EXPECT_TRUE(OwnerMayWrite(locked));
}

TEST(DeleteFilesRecursive, DoesNothingWithoutAFolderOrAMask) {
  TempTree tree;
  const std::string file = tree.Write("a.Bron.exe", "1");
  const fs::path before = fs::current_path();
  fs::current_path(tree.Path());
  DeleteFilesRecursive("*.*");
  DeleteFilesRecursive("");
  fs::current_path(before);
  DeleteFilesRecursive(platform::IncludeTrailingDelimiter(tree.Path()));
  EXPECT_TRUE(fs::exists(file));

  DeleteFilesRecursive(tree.Path("missing/*.*"));  // a folder that is not there
  DeleteFilesRecursive(tree.Path("*"));
  EXPECT_FALSE(fs::exists(file));
}

TEST(ReadFileToString, ReadsEveryByteOrThrows) {
  TempTree tree;
  const std::string bytes("MZ\0\0\x90\xff tail", 11);
  EXPECT_EQ(ReadFileToString(tree.Write("a.bin", bytes)), bytes);
  EXPECT_EQ(ReadFileToString(tree.Write("empty", "")), "");
  const std::string missing = tree.Path("missing");
  try {
    ReadFileToString(missing);
    ADD_FAILURE() << "no error for a missing file";
  } catch (const FileReadError& error) {
    EXPECT_EQ(error.Path(), missing);
  }
  EXPECT_THROW(ReadFileToString(tree.Path()), FileReadError);
}

TEST(FindTextInFile, FindsTheAbsoluteOffsetAcrossBlocks) {
  TempTree tree;
  const std::string marker = "JowoBot #VM Community";
  // Around the first and second block boundaries, and at the very end.
  for (std::size_t at : {0u, 100u, 32765u, 32768u - 21u, 32768u - 20u, 32768u, 65514u, 65530u, 70000u - 21u}) {
    std::string content(70000, 'x');
    content.replace(at, marker.size(), marker);
    EXPECT_EQ(FindTextInFile(tree.Write("page.html", content), marker), static_cast<std::int64_t>(at))
        << "marker at " << at;
  }
  // The first of two occurrences, though the second sits in an earlier read.
  std::string twice(40000, 'x');
  twice.replace(32760, marker.size(), marker);
  twice.replace(39000, marker.size(), marker);
  EXPECT_EQ(FindTextInFile(tree.Write("twice.html", twice), marker), 32760);
}

TEST(FindTextInFile, ZeroBytesAndEmptyInputsGiveNoMatch) {
  TempTree tree;
  std::string content(1000, 'x');
  content.replace(500, 8, std::string("Jowo\0Bot", 8));
  const std::string file = tree.Write("page.html", content);
  EXPECT_EQ(FindTextInFile(file, "JowoBot"), -1);
  EXPECT_EQ(FindTextInFile(file, std::string("Jowo\0Bot", 8)), -1);
  EXPECT_EQ(FindTextInFile(file, "Bot"), 505);
  EXPECT_EQ(FindTextInFile(file, "bot"), -1);  // letter case counts
  EXPECT_EQ(FindTextInFile(file, ""), -1);
  EXPECT_EQ(FindTextInFile("", "Bot"), -1);
  EXPECT_EQ(FindTextInFile(tree.Path("missing"), "Bot"), -1);
  EXPECT_EQ(FindTextInFile(tree.Write("empty", ""), "Bot"), -1);
}

TEST(FindTextInFile, TextsLongerThanABlockAreHandled) {
  TempTree tree;
  std::string text(40000, 'a');
  text += "end";
  std::string content(30000, 'b');
  content += text;
  content += std::string(50000, 'c');
  const std::string file = tree.Write("big", content);
  EXPECT_EQ(FindTextInFile(file, text), 30000);
  EXPECT_EQ(FindTextInFile(file, text + "d"), -1);
  EXPECT_EQ(FindTextInFile(file, content + "x"), -1);  // longer than the whole file
}

}  // namespace
}  // namespace korbu
