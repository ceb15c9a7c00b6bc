#include <gtest/gtest.h>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <share.h>
#else
#include <sys/file.h>
#include <sys/stat.h>
#include <fcntl.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <vector>

#include "platform/ExclusiveLock.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/Path.h"
#include "platform/Wildcard.h"
#include "support/TempTree.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::TempTree;

std::vector<std::string> Names(const std::string& folder, const std::string& mask) {
  std::vector<std::string> names;
  EXPECT_TRUE(ListFolder(folder, mask, [&](const EntryInfo& e) {
    names.push_back(e.name);
    return true;
  }));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Wildcard, FollowsWindowsRules) {
  EXPECT_TRUE(MatchesWildcard("README", "*.*"));
  EXPECT_TRUE(MatchesWildcard("a.EXE", "*.exe"));
  EXPECT_TRUE(MatchesWildcard("Makefile", "Makefile.*"));
  EXPECT_TRUE(MatchesWildcard("abc", "a?c"));
  EXPECT_FALSE(MatchesWildcard("ac", "a?c"));
  EXPECT_FALSE(MatchesWildcard("a.exe.txt", "*.exe"));
  EXPECT_TRUE(MatchesWildcard("x.bron.y", "*Bron*"));
  EXPECT_FALSE(MatchesWildcard("", "?"));
  // Many stars against a long non-matching name must not take exponential time.
  EXPECT_FALSE(MatchesWildcard(std::string(5000, 'a'), std::string(200, '*') + "b"));
}

TEST(Path, FullPathIsLexical) {
#ifdef _WIN32
  EXPECT_EQ(FullPath("C:\\a\\.\\b\\c\\..\\d"), "C:\\a\\b\\d");
  EXPECT_EQ(FullPath("C:\\a\\b\\"), "C:\\a\\b\\");
  EXPECT_EQ(FullPath(""), "");
  EXPECT_EQ(FullPath("x"), IncludeTrailingDelimiter(CurrentDirectory()) + "x");
  EXPECT_EQ(ExtractFilePath("C:\\a\\b.txt"), "C:\\a\\");
  EXPECT_EQ(ExtractFileName("C:\\a\\b.txt"), "b.txt");
  // Both separators count there.
  EXPECT_EQ(ExtractFilePath("C:/a/b.txt"), "C:/a/");
  EXPECT_EQ(ExtractFileName("C:\\a/b.txt"), "b.txt");
  EXPECT_TRUE(SameFileName("C:\\A\\Worm.EXE", "c:\\a\\worm.exe"));
#else
  EXPECT_EQ(FullPath("/a/./b//c/../d"), "/a/b/d");
  EXPECT_EQ(FullPath("/a/b/"), "/a/b/");
  EXPECT_EQ(FullPath("/"), "/");
  EXPECT_EQ(FullPath(""), "");
  EXPECT_EQ(FullPath("x"), IncludeTrailingDelimiter(CurrentDirectory()) + "x");
  EXPECT_EQ(ExtractFilePath("/a/b.txt"), "/a/");
  EXPECT_EQ(ExtractFileName("/a/b.txt"), "b.txt");
#endif
}

TEST(ListFolder, ReportsFilesAndFoldersButMarksOtherKinds) {
  TempTree tree;
  tree.Write("a.exe", "MZ");
  tree.Write(".hidden", "x");
  tree.MakeDir("sub");
#ifdef _WIN32
  // Hidden is an attribute there, not a name; links and FIFOs are POSIX kinds.
  ASSERT_TRUE(SetFileAttributes(tree.Path(".hidden"), kAttrArchive | kAttrHidden));
  tree.Write("link.exe", "MZ");
  constexpr std::size_t kEntries = 4;
#else
  fs::create_symlink(tree.Path("a.exe"), tree.Path("link.exe"));
  ASSERT_EQ(::mkfifo(tree.Path("pipe").c_str(), 0600), 0);
  constexpr std::size_t kEntries = 5;
#endif

  std::vector<EntryInfo> all;
  ASSERT_TRUE(ListFolder(tree.Path(), "*.*", [&](const EntryInfo& e) {
    all.push_back(e);
    return true;
  }));
  ASSERT_EQ(all.size(), kEntries);
  for (const auto& e : all) {
    if (e.name == "a.exe") {
      EXPECT_EQ(e.kind, EntryKind::Regular);
      EXPECT_EQ(e.size, 2u);
      EXPECT_EQ(e.attributes, kAttrArchive);
    } else if (e.name == ".hidden") {
      EXPECT_EQ(e.attributes, kAttrArchive | kAttrHidden);
    } else if (e.name == "sub") {
      EXPECT_EQ(e.kind, EntryKind::Directory);
    } else if (e.name == "link.exe") {
#ifdef _WIN32
      EXPECT_EQ(e.kind, EntryKind::Regular);
#else
      EXPECT_EQ(e.kind, EntryKind::Link);
#endif
    } else {
      EXPECT_EQ(e.kind, EntryKind::Other);
    }
  }
  EXPECT_EQ(Names(tree.Path(), "*.EXE"), (std::vector<std::string>{"a.exe", "link.exe"}));
  EXPECT_FALSE(ListFolder(tree.Path("missing"), "*", [](const EntryInfo&) { return true; }));
#ifndef _WIN32
  // The reason is the system's; a link to a folder is not listed through.
  EXPECT_EQ(ListFolder(tree.Path("missing"), "*", [](const EntryInfo&) { return true; }).error().code, ENOENT);
  fs::create_directory_symlink(tree.Path("sub"), tree.Path("sublink"));
  EXPECT_FALSE(ListFolder(tree.Path("sublink"), "*", [](const EntryInfo&) { return true; }));
#endif
}

TEST(Files, ReadOnlyAttributeAndDelete) {
  TempTree tree;
  auto path = tree.Write("ro.txt", "data");
  ASSERT_TRUE(SetFileAttributes(path, kAttrReadOnly));
  EXPECT_EQ(GetEntryInfo(path)->attributes & kAttrReadOnly, kAttrReadOnly);
  ASSERT_TRUE(SetFileAttributes(path, kAttrNormal));
  EXPECT_EQ(GetEntryInfo(path)->attributes & kAttrReadOnly, 0u);

#ifndef _WIN32
  auto target = tree.Write("keep.txt", "keep");
  fs::create_symlink(target, tree.Path("link"));
  EXPECT_TRUE(DeleteFile(tree.Path("link")));
  EXPECT_TRUE(FileExists(target));
#endif
  EXPECT_TRUE(DeleteFile(path));
  EXPECT_FALSE(FileExists(path));
  EXPECT_FALSE(DeleteFile(tree.MakeDir("dir")));
  EXPECT_TRUE(RemoveDirectory(tree.Path("dir")));
}

TEST(Files, InputFileAndMappingRefuseNonRegularFiles) {
  TempTree tree;
#ifndef _WIN32
  ASSERT_EQ(::mkfifo(tree.Path("pipe").c_str(), 0600), 0);
  EXPECT_FALSE(InputFile::Open(tree.Path("pipe"), ShareMode::DenyNone));  // must not block
  EXPECT_FALSE(MappedFile::Open(tree.Path("pipe")));
#endif
  EXPECT_FALSE(MappedFile::Open(tree.Path()));

  auto empty = tree.Write("empty", "");
  auto mapped = MappedFile::Open(empty);
  ASSERT_TRUE(mapped);
  EXPECT_EQ(mapped->Size(), 0u);

  auto data = tree.Write("data", std::string("a\0b", 3));
  EXPECT_EQ(*ReadWholeFile(data, ShareMode::DenyWrite), std::string("a\0b", 3));
  auto view = MappedFile::Open(data);
  ASSERT_TRUE(view);
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(view->Data()), view->Size()), std::string("a\0b", 3));
}

TEST(Files, ExclusiveOpenFailsWhileAnotherHolderLocksTheFile) {
  TempTree tree;
  auto path = tree.Write("f", "x");
  EXPECT_TRUE(CanOpenExclusively(path));
#ifdef _WIN32
  // Held without sharing, as another program would hold it there.
  int fd = -1;
  ASSERT_EQ(::_sopen_s(&fd, path.c_str(), _O_RDONLY | _O_BINARY, _SH_DENYRW, 0), 0);
  EXPECT_FALSE(CanOpenExclusively(path));
  ::_close(fd);
#else
  int fd = ::open(path.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX), 0);
  EXPECT_FALSE(CanOpenExclusively(path));
  ::close(fd);
#endif
  EXPECT_TRUE(CanOpenExclusively(path));
  EXPECT_FALSE(CanOpenExclusively(tree.Path("missing")));
}

TEST(Files, ReplaceAtomicallyKeepsModeAndRefusesLinks) {
  TempTree tree;
  auto path = tree.Write("system.reg", "old");
  auto target = tree.Write("elsewhere", "keep");
#ifdef _WIN32
  ASSERT_TRUE(ReplaceFileAtomically(path, "new"));
  EXPECT_EQ(test::ReadFileBytes(path), "new");
  tree.MakeDir("hosts");  // no file to replace
  EXPECT_FALSE(ReplaceFileAtomically(tree.Path("hosts"), "x"));
  EXPECT_TRUE(fs::is_directory(tree.Path("hosts")));
#else
  ::chmod(path.c_str(), 0640);
  ASSERT_TRUE(ReplaceFileAtomically(path, "new"));
  EXPECT_EQ(test::ReadFileBytes(path), "new");
  struct stat st {};
  ::stat(path.c_str(), &st);
  EXPECT_EQ(st.st_mode & 0777, 0640u);

  fs::create_symlink(target, tree.Path("hosts"));
  EXPECT_FALSE(ReplaceFileAtomically(tree.Path("hosts"), "x"));
#endif
  EXPECT_EQ(test::ReadFileBytes(target), "keep");
  // No temporary file is left behind after a failure.
  EXPECT_FALSE(ReplaceFileAtomically(tree.Path("nofolder/f"), "x"));
  EXPECT_EQ(std::distance(fs::directory_iterator(tree.Root()), fs::directory_iterator()), 3);
}

#ifndef _WIN32
// A folder the engine unpacks other users' files into: no one else may swap what
// is made there, through the folder or any folder above it.
TEST(Files, ATrustedFolderIsOneNoOtherUserCanChange) {
  TempTree tree;
  const std::string inner = tree.MakeDir("open/inner");
  ::chmod(tree.Path("open").c_str(), 0755);
  ::chmod(inner.c_str(), 0700);
  EXPECT_TRUE(CheckTrustedFolder(inner));
  ::chmod(inner.c_str(), 01777);  // as /tmp
  EXPECT_TRUE(CheckTrustedFolder(inner));
  ::chmod(inner.c_str(), 0777);
  EXPECT_FALSE(CheckTrustedFolder(inner));
  ::chmod(inner.c_str(), 0700);
  ::chmod(tree.Path("open").c_str(), 0777);  // the folder above may be renamed away
  const Status above = CheckTrustedFolder(inner);
  ASSERT_FALSE(above);
  EXPECT_NE(above.error().reason.find(tree.Path("open") + " may be written by other users"), std::string::npos)
      << above.error().reason;
  ::chmod(tree.Path("open").c_str(), 0755);
  fs::create_directory_symlink(inner, tree.Path("link"));
  EXPECT_FALSE(CheckTrustedFolder(tree.Path("link")));
  EXPECT_FALSE(CheckTrustedFolder(tree.Path("missing")));
  if (::geteuid() == 0 && ::chown(inner.c_str(), 65534, 65534) == 0) {
    EXPECT_FALSE(CheckTrustedFolder(inner));
  }
}
#endif

// A move never replaces: a name in use is told apart from other refusals.
TEST(Files, AMoveOntoATakenNameIsThatKindOfError) {
  TempTree tree;
  tree.Write("a", "mine");
  tree.Write("b", "theirs");
  const auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  const Status onto = folder->MoveTo("a", *folder, "b");
  ASSERT_FALSE(onto);
  EXPECT_EQ(onto.error().kind, ErrorKind::NameTaken) << onto.error().reason;
  EXPECT_EQ(test::ReadFileBytes(tree.Path("b")), "theirs");
  const Status missing = folder->MoveTo("gone", *folder, "c");
  ASSERT_FALSE(missing);
  EXPECT_EQ(missing.error().kind, ErrorKind::Other);
  EXPECT_NE(missing.error().code, 0);
  EXPECT_TRUE(folder->MoveTo("a", *folder, "c"));
  EXPECT_EQ(test::ReadFileBytes(tree.Path("c")), "mine");
}

// The system's code of a failure; 0 for a success.
template <typename Result>
int CodeOf(const Result& result) {
  return result ? 0 : result.error().code;
}

// Every refusal comes back with its own reason and, where a caller acts on it,
// its kind: never a reason left behind by an earlier call.
TEST(Files, EachFailureSaysItsOwnReason) {
  TempTree tree;
  tree.Write("small", "abcd");
  tree.MakeDir("sub");
  const auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);

  const auto notFolder = folder->Child("small");
  ASSERT_FALSE(notFolder);
  const auto missing = folder->Child("missing");
  ASSERT_FALSE(missing);
  EXPECT_NE(missing.error().code, 0);
  EXPECT_NE(missing.error().reason.find("missing"), std::string::npos) << missing.error().reason;

  const auto tooLarge = folder->ReadFile("small", 3);
  ASSERT_FALSE(tooLarge);
  EXPECT_NE(tooLarge.error().reason.find("more than 3 bytes"), std::string::npos) << tooLarge.error().reason;
  const auto folderRead = folder->ReadFile("sub", 100);
  ASSERT_FALSE(folderRead);
  EXPECT_NE(folderRead.error().reason.find("sub"), std::string::npos) << folderRead.error().reason;
  ASSERT_TRUE(folder->ReadFile("small", 4));

  const Status taken = folder->CreateNewFile("small", "new");
  ASSERT_FALSE(taken);
  EXPECT_EQ(taken.error().kind, ErrorKind::NameTaken) << taken.error().reason;
  EXPECT_EQ(test::ReadFileBytes(tree.Path("small")), "abcd");
  EXPECT_TRUE(folder->CreateNewFile("fresh", "new"));
  EXPECT_EQ(test::ReadFileBytes(tree.Path("fresh")), "new");

  const Status onFolder = ReplaceFileAtomically(tree.Path("sub"), "x");
  ASSERT_FALSE(onFolder);
  EXPECT_EQ(onFolder.error().reason, "it is not a regular file");
  const Status noFolder = ReplaceFileAtomically(tree.Path("nofolder/f"), "x");
  ASSERT_FALSE(noFolder);
  EXPECT_NE(noFolder.error().code, 0);
  EXPECT_NE(CodeOf(DeleteFile(tree.Path("sub"))), 0);
  EXPECT_NE(CodeOf(SetFileAttributes(tree.Path("missing"), kAttrNormal)), 0);
#ifndef _WIN32
  fs::create_directory_symlink(tree.Path("sub"), tree.Path("link"));
  const auto through = Folder::Open(tree.Path("link/inner"));
  ASSERT_FALSE(through);
  EXPECT_NE(through.error().reason.find("link is a link"), std::string::npos) << through.error().reason;
  EXPECT_EQ(CodeOf(folder->Child("link")), ELOOP);
  EXPECT_EQ(CodeOf(SetFileAttributes(tree.Path("link"), kAttrNormal)), ELOOP);
  EXPECT_EQ(missing.error().code, ENOENT);
#endif
}

// A lock another holder keeps is that kind of failure, told apart from a
// lock file that cannot be made.
TEST(Files, ALockHeldElsewhereIsBusy) {
  TempTree tree;
  const auto folder = Folder::Open(tree.Path());
  ASSERT_TRUE(folder);
  const auto first = ExclusiveLock::Take(*folder, "lock", std::chrono::milliseconds(0));
  ASSERT_TRUE(first) << first.Reason();
  const auto second = ExclusiveLock::Take(*folder, "lock", std::chrono::milliseconds(0));
  ASSERT_FALSE(second);
  EXPECT_EQ(second.error().kind, ErrorKind::Busy) << second.error().reason;
  tree.MakeDir("folder");
  const auto notFile = ExclusiveLock::Take(*folder, "folder", std::chrono::milliseconds(0));
  ASSERT_FALSE(notFile);
  EXPECT_NE(notFile.error().kind, ErrorKind::Busy);
}

}  // namespace
}  // namespace korbu::platform
