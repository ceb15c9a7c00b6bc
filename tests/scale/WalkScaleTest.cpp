// The file walk at whole-disk sizes: a million entries walked by the scanner's own
// session with its memory staying flat, a stop in the middle of it, and a tree
// two hundred levels deep.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/mount.h>
#include <unistd.h>

#include <atomic>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "PeakMemory.h"
#include "dispatch/QueuedDispatcher.h"
#include "findfile/FindFile.h"
#include "scan/ScanSession.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr int kFolders = 1000;
constexpr int kFilesPerFolder = 999;  // with the folders, one million entries
constexpr int kFiles = kFolders * kFilesPerFolder;
constexpr std::int64_t kFlatBoundKiB = 64 * 1024;

using FrontEnd = test::RecordingFrontEnd;

std::string FolderName(int folder) { return "d" + std::to_string(folder); }

// The file's number, from its name "f<number>"; -1 for any other name.
int FileNumber(const std::string& name) {
  int number = -1;
  if (name.size() < 2 || name[0] != 'f') return -1;
  const auto [end, error] = std::from_chars(name.data() + 1, name.data() + name.size(), number);
  if (error != std::errc() || end != name.data() + name.size()) return -1;
  return number;
}

// A million entries below a temporary folder: 1000 folders of 999 empty files,
// numbered across the tree. Building and removing it is most of the test's time,
// so where this process may mount one the tree lives on a tmpfs of its own, which
// takes no journal and goes away whole when unmounted.
class MillionEntryTree {
 public:
  MillionEntryTree() : root_(tree_.MakeDir("million")) {
    mounted_ = ::mount("korbu-scale", root_.c_str(), "tmpfs", 0, "size=16m,nr_inodes=1100000") == 0;
    for (int folder = 0; folder < kFolders && built_; ++folder) {
      const std::string dir = root_ + "/" + FolderName(folder);
      if (::mkdir(dir.c_str(), 0755) != 0) built_ = false;
      const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dirFd < 0) built_ = false;
      for (int i = 0; i < kFilesPerFolder && built_; ++i) {
        const std::string file = "f" + std::to_string(folder * kFilesPerFolder + i);
        const int fd = ::openat(dirFd, file.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
        if (fd < 0) built_ = false; else ::close(fd);
      }
      if (dirFd >= 0) ::close(dirFd);
    }
  }
  ~MillionEntryTree() {
    if (mounted_ && ::umount2(root_.c_str(), MNT_DETACH) == 0) return;
    // Unlinked here, folder by folder: the temporary tree's own clean-up would also
    // give every file its write permission back first.
    for (int folder = 0; folder < kFolders; ++folder) {
      const std::string dir = root_ + "/" + FolderName(folder);
      const int dirFd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      if (dirFd < 0) continue;
      for (int i = 0; i < kFilesPerFolder; ++i) {
        ::unlinkat(dirFd, ("f" + std::to_string(folder * kFilesPerFolder + i)).c_str(), 0);
      }
      ::close(dirFd);
      ::rmdir(dir.c_str());
    }
  }
  MillionEntryTree(const MillionEntryTree&) = delete;
  MillionEntryTree& operator=(const MillionEntryTree&) = delete;

  bool Built() const { return built_; }
  bool OnTmpfs() const { return mounted_; }
  const std::string& Root() const { return root_; }

 private:
  test::TempTree tree_;
  std::string root_;
  bool mounted_ = false;
  bool built_ = true;
};

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// The scanner's session over the tree, every report counted per file before the
// session's own handler judges it.
struct CountedScan {
  explicit CountedScan(const std::string& location) : seen(kFiles, 0) {
    frontEnd.options.location = location;
    TFindFile& walk = session.FindFile();
    const TFindFile::TFileMatchEvent judge = walk.OnFileMatch;
    walk.OnFileMatch = [this, judge](TFindFile& sender, const std::string& folder, const TSearchRec& rec) {
      const int number = FileNumber(rec.Name);
      if (number >= 0 && number < kFiles) {
        if (seen[static_cast<std::size_t>(number)] < 255) ++seen[static_cast<std::size_t>(number)];
      } else {
        ++strangers;
      }
      reported.fetch_add(1, std::memory_order_relaxed);
      judge(sender, folder, rec);
    };
  }
  FrontEnd frontEnd;
  QueuedDispatcher dispatcher;
  ScanSession session{frontEnd, dispatcher, nullptr};
  std::vector<unsigned char> seen;  // per file number; worker only while the walk runs
  int strangers = 0;
  std::atomic<int> reported{0};
};

// The tree is walked whole once, then stopped part way, so it is built only once.
TEST(MillionEntries, WalkReportsEveryFileOnceWithFlatMemoryAndStopsPartWayOnAbort) {
  const auto building = std::chrono::steady_clock::now();
  const MillionEntryTree tree;
  if (!tree.Built()) GTEST_SKIP() << "cannot make a million files below " << tree.Root();
  const double buildSeconds = SecondsSince(building);
  RecordProperty("tree_build_seconds", std::to_string(buildSeconds));
  std::printf("built %d files in %d folders in %.1f s (%s)\n", kFiles, kFolders, buildSeconds,
              tree.OnTmpfs() ? "on a tmpfs" : "on the disk of the temporary folder");

  {
    SCOPED_TRACE("walked whole");
    auto scan = std::make_unique<CountedScan>(tree.Root());
    const bool reset = test::ResetPeakResident();
    const std::int64_t before = test::PeakResidentKiB();
    ASSERT_GT(before, 0) << "no VmHWM in /proc/self/status";

    const auto started = std::chrono::steady_clock::now();
    scan->session.RunScan({false, false});
    scan->session.WaitForEnd();
    const double seconds = SecondsSince(started);
    const std::int64_t after = test::PeakResidentKiB();

    RecordProperty("walk_seconds", std::to_string(seconds));
    RecordProperty("peak_resident_before_kib", std::to_string(before));
    RecordProperty("peak_resident_after_kib", std::to_string(after));
    std::printf("walked %d files in %.1f s; peak resident %lld KiB before, %lld KiB after%s\n",
                scan->reported.load(), seconds, static_cast<long long>(before), static_cast<long long>(after),
                reset ? "" : " (the peak could not be reset)");

    EXPECT_EQ(scan->session.FilesScanned(), kFiles);
    EXPECT_EQ(scan->session.FoldersScanned(), kFolders + 1);
    EXPECT_EQ(scan->strangers, 0);
    int missing = 0;
    int twice = 0;
    for (unsigned char count : scan->seen) {
      missing += count == 0 ? 1 : 0;
      twice += count > 1 ? 1 : 0;
    }
    EXPECT_EQ(missing, 0);
    EXPECT_EQ(twice, 0);
    EXPECT_TRUE(scan->frontEnd.list.Rows().empty());
    ASSERT_FALSE(scan->frontEnd.operations.empty());
    EXPECT_NE(scan->frontEnd.operations.back().find(std::to_string(kFiles) + " file(s)"), std::string::npos)
        << scan->frontEnd.operations.back();
    EXPECT_LT(after - before, kFlatBoundKiB) << "memory grew with the tree";
  }
  {
    SCOPED_TRACE("stopped part way");
    CountedScan scan(tree.Root());
    bool aborted = false;
    scan.session.OnWalkAbort = [&] { aborted = true; };
    scan.session.RunScan({false, false});
    // The worker hands its labels over synchronously, so the wait keeps them running.
    while (scan.reported.load() < 50000 && scan.session.Busy()) {
      scan.dispatcher.ProcessPendingMessages();
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    ASSERT_TRUE(scan.session.Busy()) << "the walk ended before it could be stopped";
    scan.session.Abort();

    EXPECT_TRUE(aborted);
    EXPECT_FALSE(scan.session.Busy());
    const int reported = scan.reported.load();
    RecordProperty("files_before_stop", std::to_string(reported));
    EXPECT_GE(reported, 50000);
    EXPECT_LT(reported, kFiles);
    EXPECT_EQ(scan.session.FilesScanned(), reported);
    // Nothing is reported once the stop has returned.
    scan.dispatcher.ProcessPendingMessages();
    EXPECT_EQ(scan.reported.load(), reported);
  }
}

TEST(DeepTree, TwoHundredLevelsAreWalkedWhole) {
  constexpr int kLevels = 200;
  test::TempTree tree;
  std::string folder = tree.MakeDir("deep");
  for (int level = 1; level <= kLevels; ++level) {
    folder += "/l" + std::to_string(level);
    fs::create_directory(folder);
    test::WriteFileBytes(folder + "/f" + std::to_string(level), "x");
  }

  TFindFile walk;
  walk.Criteria().Files.Location = tree.Path("deep");
  walk.Criteria().Files.FileName = "*.*";
  std::vector<int> filesAtLevel(kLevels + 2, 0);
  std::vector<int> foldersAtLevel(kLevels + 2, 0);
  walk.OnFolderChange = [&](TFindFile& sender, const std::string&, TFolderIgnore&) {
    if (sender.CurrentLevel() <= kLevels + 1) ++foldersAtLevel[sender.CurrentLevel()];
  };
  walk.OnFileMatch = [&](TFindFile& sender, const std::string& where, const TSearchRec& rec) {
    // The file of level n lies in folder l<n>, one below level n of the walk.
    const int number = FileNumber(rec.Name);
    const bool inPlace = where.size() > rec.Name.size() &&
                         where.substr(where.rfind("/l") + 2) == rec.Name.substr(1) + "/";
    if (number >= 1 && number <= kLevels && inPlace && sender.CurrentLevel() == number + 1) ++filesAtLevel[number];
  };
  walk.Start();

  EXPECT_EQ(walk.CurrentLevel(), 0);
  for (int level = 1; level <= kLevels + 1; ++level) EXPECT_EQ(foldersAtLevel[level], 1) << "level " << level;
  for (int level = 1; level <= kLevels; ++level) EXPECT_EQ(filesAtLevel[level], 1) << "file of level " << level;
}

}  // namespace
}  // namespace korbu
