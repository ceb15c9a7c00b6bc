// Files and folders that change under the walk: a file made unreadable between
// its listing and its verdict, folders removed or swapped for links while they are
// walked. The walk reports what it could still see, once, and ends normally.

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "RobustSupport.h"
#include "dispatch/QueuedDispatcher.h"
#include "findfile/FindFile.h"
#include "scan/ScanSession.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::TempTree;

// Every path the walk reported, with how often.
using Reports = std::map<std::string, int>;

bool Fail(const std::string& why) {
  std::fprintf(stderr, "%s\n", why.c_str());
  return false;
}

// Half of the infected files become unreadable in the walk's own handler, after
// the listing and before the verdict the scanner's handler gives.
std::optional<bool> ScanWhileFilesBecomeUnreadable(const std::string& root) {
  const std::string probe = root + "/probe";
  test::WriteFileBytes(probe, "x");
  ::chmod(probe.c_str(), 0);
  if (::access(probe.c_str(), R_OK) == 0) return std::nullopt;  // permissions keep nobody out here
  fs::remove(probe);

  test::RecordingFrontEnd frontEnd;
  frontEnd.options.location = root;
  QueuedDispatcher dispatcher;
  ScanSession session(frontEnd, dispatcher, nullptr);
  TFindFile& walk = session.FindFile();
  const TFindFile::TFileMatchEvent judge = walk.OnFileMatch;
  std::set<std::string> locked;  // written on the worker, read once the walk has ended
  int seen = 0;
  walk.OnFileMatch = [&](TFindFile& sender, const std::string& folder, const TSearchRec& rec) {
    const std::string path = folder + rec.Name;
    if (seen++ % 2 == 0 && ::chmod(path.c_str(), 0) == 0) locked.insert(path);
    judge(sender, folder, rec);
  };
  session.RunScan({false, false});
  session.WaitForEnd();

  bool sound = true;
  if (session.FilesScanned() != 12) sound = Fail("files scanned: " + std::to_string(session.FilesScanned()));
  if (locked.size() != 6) sound = Fail("files made unreadable: " + std::to_string(locked.size()));
  std::set<std::string> rows;
  for (const DetectionRow& row : frontEnd.list.Rows()) {
    rows.insert(row.path);
    if (locked.count(row.path) != 0) sound = Fail("an unreadable file got a row: " + row.path);
    if (row.virusName.rfind("Brontok-", 0) != 0) sound = Fail("row without a variant name: " + row.virusName);
  }
  for (int i = 0; i < 12; ++i) {
    const std::string path = root + "/w" + std::to_string(i) + ".exe";
    if (locked.count(path) == 0 && rows.count(path) == 0) sound = Fail("readable file missed: " + path);
  }
  if (frontEnd.operations.empty() || frontEnd.operations.back().find("12 file(s)") == std::string::npos) {
    sound = Fail("summary line: " + (frontEnd.operations.empty() ? "" : frontEnd.operations.back()));
  }
  return sound;
}

TEST(WalkFaults, FileMadeUnreadableBeforeItsVerdictGetsNoRowAndTheWalkGoesOn) {
  TempTree tree;
  const std::string root = tree.MakeDir("scan");
  for (int i = 0; i < 12; ++i) tree.Write("scan/w" + std::to_string(i) + ".exe", test::VariantFile(1 + i));
  const test::CheckRun run = test::RunUnprivileged(root, [&] { return ScanWhileFilesBecomeUnreadable(root); });
  if (run == test::CheckRun::CannotRun) GTEST_SKIP() << "no user here whom file permissions keep out";
  EXPECT_EQ(run, test::CheckRun::Passed) << "see the messages above";
}

// A tree of three top-level folders, each with files and a subfolder, and files
// at the top: every file's path.
std::set<std::string> MakeThreeFolders(const TempTree& tree) {
  std::set<std::string> files;
  for (const char* top : {"a", "b", "c"}) {
    for (int i = 0; i < 20; ++i) files.insert(tree.Write(std::string(top) + "/f" + std::to_string(i) + ".txt", "x"));
    for (int i = 0; i < 5; ++i) files.insert(tree.Write(std::string(top) + "/sub/s" + std::to_string(i) + ".txt", "y"));
  }
  for (int i = 0; i < 3; ++i) files.insert(tree.Write("r" + std::to_string(i) + ".txt", "z"));
  return files;
}

struct Walk {
  explicit Walk(const std::string& location, bool threaded) {
    find.Threaded = threaded;
    find.Criteria().Files.Location = location;
    find.Criteria().Files.FileName = "*.*";
    find.OnFileMatch = [this](TFindFile&, const std::string& folder, const TSearchRec& rec) {
      ++reports[folder + rec.Name];
    };
    find.OnSearchFinish = [this](TFindFile&) { ++finishes; };
  }
  void Run() {
    find.Start();
    find.WaitForSearchEnd();
  }
  QueuedDispatcher dispatcher;
  TFindFile find{&dispatcher};
  Reports reports;  // worker only while the walk runs
  int finishes = 0;
};

// The top-level folder (a, b or c) a path lies in, or empty.
std::string TopFolderOf(const std::string& root, const std::string& path) {
  if (path.rfind(root + "/", 0) != 0) return {};
  const std::string rest = path.substr(root.size() + 1);
  const std::size_t slash = rest.find('/');
  return slash == std::string::npos ? std::string() : rest.substr(0, slash);
}

TEST(WalkFaults, FoldersRemovedWhileWalkedEndTheWalkNormallyWithWhatWasSeen) {
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "on the caller's thread");
    TempTree tree;
    const std::set<std::string> files = MakeThreeFolders(tree);
    const std::string root = tree.Path();
    Walk walk(root, threaded);
    // The first top-level folder entered removes a sibling not entered yet; the
    // first file seen in the next one removes that folder itself mid-listing.
    std::string first;
    std::string removedSibling;
    std::string removedItself;
    walk.find.OnFolderChange = [&](TFindFile&, const std::string& folder, TFolderIgnore&) {
      const std::string top = TopFolderOf(root, folder);
      if (!first.empty() || top.empty()) return;
      first = top;
      removedSibling = top == "a" ? "b" : "a";
      fs::remove_all(root + "/" + removedSibling);
    };
    walk.find.OnFileMatch = [&](TFindFile&, const std::string& folder, const TSearchRec& rec) {
      const std::string path = folder + rec.Name;
      ++walk.reports[path];
      const std::string top = TopFolderOf(root, path);
      if (removedItself.empty() && !top.empty() && top != first) {
        removedItself = top;
        fs::remove_all(root + "/" + top);
      }
    };
    walk.Run();

    EXPECT_FALSE(walk.find.Busy());
    EXPECT_EQ(walk.finishes, 1);
    ASSERT_FALSE(removedItself.empty());
    std::map<std::string, int> perTop;
    for (const auto& [path, count] : walk.reports) {
      EXPECT_EQ(count, 1) << path;
      EXPECT_EQ(files.count(path), 1u) << "not a file of the tree: " << path;
      ++perTop[TopFolderOf(root, path)];
    }
    EXPECT_EQ(perTop[""], 3);               // the top files
    EXPECT_EQ(perTop[first], 25);           // the untouched folder, its subfolder included
    EXPECT_EQ(perTop[removedSibling], 0);   // gone before it was entered
    EXPECT_GE(perTop[removedItself], 1);    // at least the file that removed it...
    EXPECT_LE(perTop[removedItself], 20);   // ...and never its subfolder
  }
}

TEST(WalkFaults, SubfolderSwappedForALinkAfterTheListingIsNotFollowed) {
  for (bool threaded : {false, true}) {
    SCOPED_TRACE(threaded ? "threaded" : "on the caller's thread");
    TempTree tree;
    const std::string outside = tree.MakeDir("outside");
    tree.Write("outside/elsewhere.exe", "x");
    const std::string root = tree.MakeDir("location");
    for (const char* top : {"a", "b", "c"}) tree.Write("location/" + std::string(top) + "/f.txt", "x");
    Walk walk(root, threaded);
    // The first folder entered turns both its siblings into links, listed as
    // folders a moment ago: one back to the location, one out of it.
    std::string first;
    walk.find.OnFolderChange = [&](TFindFile&, const std::string& folder, TFolderIgnore&) {
      const std::string top = TopFolderOf(root, folder);
      if (!first.empty() || top.empty()) return;
      first = top;
      std::vector<std::string> others;
      for (const char* name : {"a", "b", "c"}) {
        if (name != first) others.push_back(name);
      }
      fs::remove_all(root + "/" + others[0]);
      fs::create_directory_symlink(root, root + "/" + others[0]);
      fs::remove_all(root + "/" + others[1]);
      fs::create_directory_symlink(outside, root + "/" + others[1]);
    };
    walk.Run();

    ASSERT_FALSE(first.empty());
    Reports expected{{root + "/" + first + "/f.txt", 1}};
    EXPECT_EQ(walk.reports, expected);
  }
}

}  // namespace
}  // namespace korbu
