#include <gtest/gtest.h>
#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <string>

#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "services/FileUtils.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::TempTree;

bool OwnerMayWrite(const std::string& path) {
  return (fs::status(path).permissions() & fs::perms::owner_write) != fs::perms::none;
}

std::string ReadOnly(const std::string& path) {
  fs::permissions(path, fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                  fs::perm_options::remove);
  return path;
}

#ifdef _WIN32
// The file open without sharing, as another program using it would hold it there.
struct HeldLock {
  explicit HeldLock(const std::string& path) { ::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, 0); }
  ~HeldLock() {
    if (fd >= 0) ::_close(fd);
  }
  bool Take() const { return fd >= 0; }
  int fd = -1;
};
#else
// An exclusive advisory lock on a file, as another program using it would hold.
struct HeldLock {
  explicit HeldLock(const std::string& path) : fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {}
  ~HeldLock() { ::close(fd); }
  bool Take() const { return fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0; }
  int fd;
};
#endif

TEST(FileAttributesAndLocks, ClearNeverActsThroughALinkAndOnlyUseLocks) {
  TempTree tree;
  const std::string file = ReadOnly(tree.Write("ro.txt", "x"));
  EXPECT_TRUE(ClearFileAttributes(file));
  EXPECT_TRUE(OwnerMayWrite(file));
#ifndef _WIN32  // links are a POSIX matter here
  const std::string target = ReadOnly(tree.Write("target.txt", "x"));
  fs::create_symlink(target, tree.Path("link.txt"));
  EXPECT_FALSE(ClearFileAttributes(tree.Path("link.txt")));
  EXPECT_FALSE(OwnerMayWrite(target));
#endif

  EXPECT_FALSE(IsFileLocked(tree.Path("missing.exe")));
  EXPECT_FALSE(IsFileLocked(tree.Path()));
  EXPECT_FALSE(IsFileLocked(file));
  {
    HeldLock lock(file);
    ASSERT_TRUE(lock.Take());
    EXPECT_TRUE(IsFileLocked(file));
  }
  EXPECT_FALSE(IsFileLocked(file));
  const std::string self = platform::ExecutablePath();  // a running program's image
  if (self.empty()) GTEST_SKIP() << "the test program's own path is unknown";
  EXPECT_TRUE(IsFileLocked(self));
}

TEST(DeleteFilesRecursive, DeletesMatchingFilesAtAnyDepthAndNothingElse) {
  TempTree tree;
  TempTree outside;
  const std::string victim = outside.Write("victim.Bron.txt", "1");
  const std::string target = outside.Write("target.Bron.txt", "1");
#ifndef _WIN32
  fs::create_directory_symlink(outside.Path(), tree.Path("linkdir"));
  fs::create_symlink(target, tree.Path("link.Bron.txt"));
#else
  tree.Write("link.Bron.txt", "1");  // the same name as a plain file there
#endif
  const std::string gone[] = {
      tree.Write("a.Bron.exe", "1"), tree.Write("WINBRONTOK.EXE", "1"),
      ReadOnly(tree.Write("ro.Bron.txt", "1")), tree.Write(".hidden.Bron.sys", "1"),
      ReadOnly(tree.Write("l1/l2/l3/.deep.Bron.dat", "1")), tree.Path("link.Bron.txt")};
  const std::string kept[] = {tree.Write("keep.txt", "1"), tree.Write("l1/l2/l3/keep.dat", "1"),
                              tree.Write("l1/Bron.d/x.txt", "1"), victim, target};
#ifdef _WIN32
  // Hidden and system are attributes there, not a leading dot.
  for (const char* name : {".hidden.Bron.sys", "l1/l2/l3/.deep.Bron.dat"}) {
    ASSERT_TRUE(platform::SetFileAttributes(tree.Path(name), platform::kAttrHidden | platform::kAttrSystem |
                                                                 platform::kAttrReadOnly));
  }
#endif
  const std::string locked = ReadOnly(tree.Write("l1/locked.Bron.exe", "1"));
  HeldLock lock(locked);
  ASSERT_TRUE(lock.Take());

  DeleteFilesRecursive(tree.Path("*Bron*.*"));
  for (const auto& path : gone) EXPECT_FALSE(fs::exists(fs::symlink_status(path))) << path;
  for (const auto& path : kept) EXPECT_TRUE(fs::exists(path)) << path;
  EXPECT_TRUE(fs::is_directory(tree.Path("l1/Bron.d")));
  // The file in use stays, but without its read-only flag.
  EXPECT_TRUE(fs::exists(locked));
  EXPECT_TRUE(OwnerMayWrite(locked));
}

TEST(DeleteFilesRecursive, DoesNothingWithoutAFolderOrAMask) {
  TempTree tree;
  const std::string file = tree.Write("a.Bron.exe", "1");
  const fs::path before = fs::current_path();
  fs::current_path(tree.Path());
  DeleteFilesRecursive("*.*");  // must not become the current folder, nor the root
  DeleteFilesRecursive("");
  fs::current_path(before);
  DeleteFilesRecursive(platform::IncludeTrailingDelimiter(tree.Path()));
  EXPECT_TRUE(fs::exists(file));
  DeleteFilesRecursive(tree.Path("*"));
  EXPECT_FALSE(fs::exists(file));
}

TEST(ReadFileToString, ReadsEveryByteOrThrows) {
  TempTree tree;
  const std::string bytes("MZ\0\0\x90\xff tail", 11);
  EXPECT_EQ(ReadFileToString(tree.Write("a.bin", bytes)), bytes);
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
  for (std::size_t at : {0u, 32765u, 32768u - 21u, 32768u - 20u, 32768u, 65514u, 65530u, 70000u - 21u}) {
    std::string content(70000, 'x');
    content.replace(at, marker.size(), marker);
    EXPECT_EQ(FindTextInFile(tree.Write("page.html", content), marker), static_cast<std::int64_t>(at))
        << "marker at " << at;
  }
  // A text longer than a block.
  const std::string text = std::string(40000, 'a') + "end";
  const std::string big = tree.Write("big", std::string(30000, 'b') + text + std::string(50000, 'c'));
  EXPECT_EQ(FindTextInFile(big, text), 30000);
  EXPECT_EQ(FindTextInFile(big, text + "d"), -1);
}

TEST(FindTextInFile, ZeroBytesAndEmptyInputsGiveNoMatch) {
  TempTree tree;
  const std::string file = tree.Write("page.html", "xx" + std::string("Jowo\0Bot", 8) + "xx");
  EXPECT_EQ(FindTextInFile(file, "JowoBot"), -1);
  EXPECT_EQ(FindTextInFile(file, std::string("Jowo\0Bot", 8)), -1);
  EXPECT_EQ(FindTextInFile(file, "Bot"), 7);
  EXPECT_EQ(FindTextInFile(file, "bot"), -1);  // letter case counts
  EXPECT_EQ(FindTextInFile(file, ""), -1);
  EXPECT_EQ(FindTextInFile("", "Bot"), -1);
  EXPECT_EQ(FindTextInFile(tree.Path("missing"), "Bot"), -1);
}

}  // namespace
}  // namespace korbu
