// "Clean" against a system that fights back: folders swapped for links while the
// steps run, and files far too large to be what a step looks for.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <linux/fs.h>
#include <stdio.h>  // renameat2
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <iostream>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "DamagedPrefix.h"
#include "repair/VirusClean.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::DamagedPrefix;
using test::ReadFileBytes;

bool Exists(const std::string& path) { return fs::exists(fs::symlink_status(path)); }

// Every entry below a folder (links not followed) with its content or link target.
std::map<std::string, std::string> Snapshot(const std::string& folder) {
  std::map<std::string, std::string> entries;
  for (const auto& entry : fs::recursive_directory_iterator(folder)) {
    const std::string relative = entry.path().lexically_relative(folder).string();
    if (entry.is_symlink()) {
      entries[relative] = "-> " + fs::read_symlink(entry.path()).string();
    } else if (entry.is_regular_file()) {
      entries[relative] = ReadFileBytes(entry.path().string());
    } else {
      entries[relative] = "(folder)";
    }
  }
  return entries;
}

// Flips folders with links to twins of theirs outside the prefix, atomically and
// over and over, until it is destroyed. Each flip exchanges the folder's name with
// that of a link beside it, through a descriptor of the real parent folder.
class Swapper {
 public:
  Swapper(const std::vector<std::string>& folders, const std::string& outside) {
    for (std::size_t i = 0; i < folders.size(); ++i) {
      const fs::path folder(folders[i]);
      const std::string twin = outside + "/" + std::to_string(i);
      fs::copy(folder, twin, fs::copy_options::recursive | fs::copy_options::copy_symlinks);
      fs::create_directory_symlink(twin, folder.string() + ".swap");
      const int parent = ::open(folder.parent_path().c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
      targets_.push_back({parent, folder.filename().string()});
    }
    thread_ = std::thread([this] {
      while (!stop_.load()) {
        for (const Target& t : targets_) {
          const std::string link = t.name + ".swap";
          if (::renameat2(t.parent, t.name.c_str(), t.parent, link.c_str(), RENAME_EXCHANGE) == 0) swaps_.fetch_add(1);
        }
      }
    });
  }
  ~Swapper() {
    Stop();
    for (const Target& t : targets_) ::close(t.parent);
  }
  void Stop() {
    stop_.store(true);
    if (thread_.joinable()) thread_.join();
  }
  long Swaps() const { return swaps_.load(); }

 private:
  struct Target {
    int parent;
    std::string name;
  };
  std::vector<Target> targets_;
  std::atomic<bool> stop_{false};
  std::atomic<long> swaps_{0};
  std::thread thread_;
};

TEST(HostileRepairTest, NothingOutsideThePrefixChangesWhileFoldersAreSwappedForLinks) {
  // One folder on the way to each destructive step: the detected file's, one the
  // worm-file walk enters, one above the application-data folder (walk, folder
  // moves, the Trash moves), the pictures, the task folder, hosts' folder, and the
  // Windows folder itself (system.ini, and above the others).
  const std::vector<std::string> swapped = {"windows/ShellNew",      "users/tester/AppData/Local/a",
                                            "users/tester/AppData",  "users/tester/Pictures",
                                            "windows/Tasks",         "windows/system32/drivers/etc",
                                            "windows"};
  constexpr int kRuns = 12;
  long swaps = 0;
  int escapes = 0;
  for (int run = 0; run < kRuns; ++run) {
    DamagedPrefix damage;
    test::TempTree outside;
    std::vector<std::string> folders;
    for (const std::string& relative : swapped) folders.push_back(damage.Prefix().DriveC(relative));
    {
      Swapper swapper(folders, outside.Path());
      const auto twins = Snapshot(outside.Path());
      CleanSystem(*platform::DefaultWindowsSystem(), damage.wormFile);
      swapper.Stop();
      swaps += swapper.Swaps();
      if (Snapshot(outside.Path()) != twins) ++escapes;
    }
  }
  std::cout << "[ swapped  ] " << swaps << " swaps over " << kRuns << " runs of Clean, " << escapes
            << " runs changed something outside\n";
  EXPECT_GT(swaps, kRuns);  // the swapper really raced the steps
  EXPECT_EQ(escapes, 0);
}

TEST(HostileRepairTest, HugeSparseFilesAreLeftAloneAndEveryLaterStepStillRuns) {
  DamagedPrefix damage;
  test::WinePrefixFixture& prefix = damage.Prefix();
  constexpr off_t kTebibyte = off_t{1} << 40;
  // "pause" followed by a hole of a tebibyte: far too large to be the worm's file,
  // and a whole read would exhaust memory. The same for hosts and system.ini.
  const std::vector<std::string> huge = {prefix.DriveC("autoexec.bat"), damage.Hosts(),
                                         prefix.WindowsFolder() + "/system.ini"};
  for (const std::string& path : huge) {
    if (::truncate(path.c_str(), kTebibyte) != 0) GTEST_SKIP() << "no sparse file of 1 TiB here: " << path;
  }
  const std::string page = prefix.Pictures() + "/big.html";
  CleanSystem(*platform::DefaultWindowsSystem(), damage.wormFile);
  for (const std::string& path : huge) EXPECT_EQ(fs::file_size(path), static_cast<std::uintmax_t>(kTebibyte)) << path;
  EXPECT_FALSE(Exists(damage.Hosts() + ".bak"));
  // The steps after them all ran: worm files, pages, tasks, folders.
  EXPECT_TRUE(damage.InTrash(".Bronto.exe"));
  EXPECT_FALSE(Exists(page));
  EXPECT_FALSE(Exists(prefix.WindowsFolder() + "/Tasks/A-and-C.job"));
  EXPECT_TRUE(damage.InTrash("bron"));
}

}  // namespace
}  // namespace korbu
