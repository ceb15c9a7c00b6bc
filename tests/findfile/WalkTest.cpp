#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#endif

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <stdexcept>

#include "WalkRecorder.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/SystemError.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

namespace fs = std::filesystem;
using Events = std::vector<std::string>;
using test::TempTree;
using test::WalkRecorder;

struct Walk : ::testing::Test {
  TempTree tree;
  TFindFile search;
  WalkRecorder log{search, tree.Path() + "/"};

  void SetUp() override {
    search.Criteria().Files.FileName = "*.*";
    search.Criteria().Files.Location = tree.Path();
  }
};

TEST_F(Walk, ReportsFolderFilesBeforeSubfoldersDepthFirst) {
  tree.Write("a.txt", "1");
  tree.Write("sub/b.txt", "2");
  tree.Write("sub/deeper/c.txt", "3");
  search.Start();
  EXPECT_EQ(log.Events(), (Events{"begin", "folder ", "file a.txt", "folder sub/", "file sub/b.txt",
                                  "folder sub/deeper/", "file sub/deeper/c.txt", "finish"}));
  EXPECT_FALSE(search.Busy());
  EXPECT_EQ(search.CurrentLevel(), 0);
}

TEST_F(Walk, SystemMaskSetsPassesInReverseAndSizeLimit) {
  tree.Write("x.exe", "e");
  tree.Write("x.COM", "c");
  tree.Write("x.dll", "d");
  tree.Write("big.exe", std::string(102401, 'b'));
  tree.Write("limit.scr", std::string(102400, 's'));
  search.Criteria().Size.Max = 102400;
  search.Start();
  Events all = log.Files();
  std::sort(all.begin(), all.end());
  EXPECT_EQ(all, (Events{"limit.scr", "x.COM", "x.dll", "x.exe"}));

  search.Criteria().Files.FileName = "*.exe;*.scr;*.pif;*.com;*.EXE";
  WalkRecorder masks(search, tree.Path() + "/");
  search.Start();
  EXPECT_EQ(masks.Files(), (Events{"x.COM", "limit.scr", "x.exe"}));
}

TEST_F(Walk, MaskListedTwiceReportsTwiceAndEmptyNameOnlyWalks) {
  tree.Write("a.txt", "1");
  tree.Write("sub/b.txt", "2");
  search.Criteria().Files.Location = tree.Path() + ";" + tree.Path() + "/";
  search.Start();
  EXPECT_EQ(log.Files(), (Events{"a.txt", "a.txt", "sub/b.txt", "sub/b.txt"}));

  search.Criteria().Files.FileName = " ; ";
  WalkRecorder empty(search, tree.Path() + "/");
  search.Start();
  EXPECT_EQ(empty.Events(), (Events{"begin", "folder ", "folder sub/", "finish"}));

  search.Criteria().Files.Location = "";
  WalkRecorder nowhere(search, "");
  search.Start();
  EXPECT_EQ(nowhere.Events(), (Events{"begin", "finish"}));
}

TEST_F(Walk, LevelsPrefixesAndFolderIgnore) {
  tree.Write("top.txt", "1");
  tree.Write("a/mid.txt", "2");
  tree.Write("a/b/low.txt", "3");
  auto files = [&](auto configure) {
    TFindFile walk;
    walk.Criteria() = search.Criteria();
    WalkRecorder rec(walk, tree.Path() + "/");
    configure(walk);
    walk.Start();
    return rec.Files();
  };
  EXPECT_EQ(files([](TFindFile& f) { f.Criteria().Files.MaxLevel = 1; }), (Events{"top.txt"}));
  EXPECT_EQ(files([](TFindFile& f) { f.Criteria().Files.MaxLevel = 2; }), (Events{"top.txt", "a/mid.txt"}));
  EXPECT_EQ(files([](TFindFile& f) { f.Criteria().Files.MinLevel = 2; }), (Events{"a/mid.txt", "a/b/low.txt"}));
  EXPECT_EQ(files([&](TFindFile& f) { f.Criteria().Files.Location = "<" + tree.Path(); }), (Events{"top.txt"}));
  auto ignoring = [&](TFolderIgnore value) {
    return files([&](TFindFile& f) {
      f.OnFolderChange = [&, value](TFindFile&, const std::string& folder, TFolderIgnore& ignore) {
        if (folder == tree.Path("a") + platform::kPathDelim) ignore = value;
      };
    });
  };
  EXPECT_EQ(ignoring(TFolderIgnore::fiSubfolders), (Events{"top.txt", "a/mid.txt"}));
  EXPECT_EQ(ignoring(TFolderIgnore::fiFiles), (Events{"top.txt", "a/b/low.txt"}));
  EXPECT_EQ(ignoring(TFolderIgnore::fiFilesAndSubfolders), (Events{"top.txt"}));
}

TEST_F(Walk, SkipsLinksFifosAndFoldersThatVanish) {
  tree.Write("real.txt", "1");
  tree.Write("gone/lost.txt", "2");
  tree.Write("stays/kept.txt", "3");
#ifndef _WIN32  // links and FIFOs are POSIX kinds; the vanishing folder is tested everywhere
  fs::create_directory_symlink(tree.Path(), tree.Path("loop"));
  fs::create_symlink(tree.Path("real.txt"), tree.Path("link.txt"));
  ASSERT_EQ(::mkfifo(tree.Path("pipe").c_str(), 0600), 0);
#endif
  // The first folder entered below the root removes its sibling before it is walked.
  search.OnFolderChange = [&](TFindFile& f, const std::string& folder, TFolderIgnore&) {
    log.Add("folder " + folder.substr(tree.Path().size() + 1));
    if (f.CurrentLevel() == 2) fs::remove_all(tree.Path(folder.find("gone") != std::string::npos ? "stays" : "gone"));
  };
  std::vector<std::string> reasons;
  search.OnWalkError = [&](TFindFile&, const std::string&, const std::string& reason) { reasons.push_back(reason); };
  search.Start();
  // The vanished folder is an error that names its cause in the system's words.
  ASSERT_EQ(reasons.size(), 1u);
#ifdef _WIN32
  EXPECT_TRUE(reasons[0] == platform::SystemError(2).reason || reasons[0] == platform::SystemError(3).reason)
      << reasons[0];  // file or path not found
#else
  EXPECT_EQ(reasons[0], platform::SystemError(ENOENT).reason);
#endif
  // Only one of the two subfolders is left to report its file.
  const Events files = log.Files();
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(std::count(files.begin(), files.end(), "real.txt"), 1);
  EXPECT_EQ(std::count(files.begin(), files.end(), "stays/kept.txt") +
                std::count(files.begin(), files.end(), "gone/lost.txt"), 1);
}

TEST_F(Walk, HandlerErrorEndsSearchAndReachesCaller) {
  tree.Write("a.txt", "1");
  search.OnFileMatch = [](TFindFile&, const std::string&, const TSearchRec&) { throw std::runtime_error("x"); };
  EXPECT_THROW(search.Start(), std::runtime_error);
  EXPECT_EQ(log.Events(), (Events{"begin", "folder ", "finish"}));
  EXPECT_FALSE(search.Busy());
  EXPECT_EQ(search.CurrentLevel(), 0);
  search.Abort();  // nothing to stop any more
  EXPECT_EQ(log.Events().back(), "finish");
}

TEST_F(Walk, DeepTreeUsesLittleStackPerLevel) {
#ifdef _WIN32
  constexpr int kDepth = 90;  // the whole path stays within the ANSI calls' MAX_PATH
#else
  constexpr int kDepth = 300;
#endif
  std::string relative;
  for (int i = 0; i < kDepth; ++i) relative += "d/";
  tree.Write(relative + "deep.txt", "x");
  std::uintptr_t top = 0, bottom = 0;
  search.OnFolderChange = [&](TFindFile& f, const std::string&, TFolderIgnore&) {
    const auto frame = reinterpret_cast<std::uintptr_t>(__builtin_frame_address(0));
    if (f.CurrentLevel() == 1) top = frame;
    if (f.CurrentLevel() == kDepth + 1) bottom = frame;
  };
  search.Start();
  ASSERT_EQ(log.Files(), (Events{relative + "deep.txt"}));
  const auto perLevel = (top - bottom) / kDepth;
  std::printf("stack per level: %zu bytes\n", static_cast<std::size_t>(perLevel));
  EXPECT_LT(perLevel, 4096u);
}


#ifndef _WIN32
// proc and sysfs are never entered, named as the location or met below one; an
// ordinary folder still is.
TEST(WalkVirtual, KernelFileSystemsAreNeverEntered) {
  if (!platform::DirectoryExists("/proc/sys")) GTEST_SKIP() << "no /proc mounted";
  EXPECT_FALSE(platform::IsVirtualFileSystem("/"));
  TempTree tree;
  tree.Write("a.txt", "1");
  EXPECT_FALSE(platform::IsVirtualFileSystem(tree.Path()));
  TFindFile search;
  search.Criteria().Files.FileName = "*.*";
  std::string location = "/proc;" + tree.Path();
  if (platform::DirectoryExists("/sys/kernel")) location += ";/sys";
  search.Criteria().Files.Location = location;
  int folders = 0;
  int skipped = 0;
  std::vector<std::string> files;
  // Only the tree is entered, and file systems of real files mounted below the
  // kernel's (a tmpfs at /sys/fs/cgroup, say), whose files are not the tree's.
  search.OnFolderChange = [&](TFindFile&, const std::string& folder, TFolderIgnore& ignore) {
    if (folder.rfind(tree.Path(), 0) == 0) {
      ++folders;
      return;
    }
    EXPECT_FALSE(platform::IsVirtualFileSystem(folder)) << folder;
    ignore = TFolderIgnore::fiFilesAndSubfolders;
  };
  search.OnFolderSkipped = [&](TFindFile&, const std::string& folder) {
    ++skipped;
    EXPECT_TRUE(platform::IsVirtualFileSystem(folder)) << folder;
  };
  search.OnFileMatch = [&](TFindFile&, const std::string& folder, const TSearchRec& rec) {
    if (folder.rfind(tree.Path(), 0) == 0) files.push_back(rec.Name);
  };
  search.Start();
  EXPECT_EQ(folders, 1);
  EXPECT_GE(skipped, 1);  // /proc at least
  EXPECT_EQ(files, (Events{"a.txt"}));
}
#endif

}  // namespace
}  // namespace korbu
