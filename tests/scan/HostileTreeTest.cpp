#include <gtest/gtest.h>
// FIFOs and links swapped in under a scan are POSIX matters; the engine library is
// built only there.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "dispatch/QueuedDispatcher.h"
#include "engine/VirusClamAV.h"
#include "scan/ScanSession.h"
#include "support/TempTree.h"
#include "support/TestFrontEnds.h"

namespace korbu {
namespace {
using namespace std::chrono_literals;

constexpr char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr int kNames = 6;
constexpr int kScans = 40;
// Far beyond what a scan of six tiny files takes, even under a sanitizer.
constexpr auto kScanDeadline = 10s;

// Swaps each name of the tree between a clean regular file, a FIFO and a link to
// an infected file outside the tree, each swap one atomic rename. Every name's
// FIFO keeps a second name outside the tree, so that a reader stuck on it can be
// let go.
class Flipper {
 public:
  Flipper(const test::TempTree& root, std::string outside)
      : root_(root), outside_(std::move(outside)) {
    root_.MakeDir("tree");
    root_.MakeDir("stage");
    root_.MakeDir("pipes");
    for (int k = 0; k < kNames; ++k) {
      if (::mkfifo(Pipe(k).c_str(), 0600) != 0) std::abort();
      Flip(k, 0);
    }
    thread_ = std::thread([this] {
      for (unsigned step = 1; !stop_; ++step) Flip(static_cast<int>(step % kNames), step / kNames + step);
    });
  }
  ~Flipper() {
    stop_ = true;
    thread_.join();
  }
  Flipper(const Flipper&) = delete;
  Flipper& operator=(const Flipper&) = delete;

  std::string Tree() const { return root_.Path("tree"); }

  // Opens every FIFO for writing and closes it again: a reader blocked in its open
  // returns and then reads an empty file.
  void ReleaseReaders() const {
    for (int k = 0; k < kNames; ++k) {
      const int fd = ::open(Pipe(k).c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
      if (fd >= 0) ::close(fd);
    }
  }

 private:
  std::string Pipe(int k) const { return root_.Path("pipes/p" + std::to_string(k)); }

  void Flip(int k, unsigned kind) const {
    const std::string staged = root_.Path("stage/t" + std::to_string(k));
    ::unlink(staged.c_str());
    bool made = false;
    switch (kind % 3) {
      case 0: {
        const int fd = ::open(staged.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        made = fd >= 0 && ::write(fd, "clean\n", 6) == 6;
        if (fd >= 0) ::close(fd);
        break;
      }
      case 1:
        made = ::link(Pipe(k).c_str(), staged.c_str()) == 0;
        break;
      default:
        made = ::symlink(outside_.c_str(), staged.c_str()) == 0;
    }
    const std::string name = root_.Path("tree/f" + std::to_string(k) + ".exe");
    if (made) ::rename(staged.c_str(), name.c_str());
  }

  const test::TempTree& root_;
  const std::string outside_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(HostileTree, NamesFlippingToFifosAndLinksNeitherHangAScanNorLeadOutOfTheTree) {
  const std::string shared = test::SharedDir();
  if (shared.empty()) GTEST_SKIP() << "the shared signature databases are not there";
  CreateVirusEngine();
  SetDatabaseFolder(*VirusEngine, shared + "/engine-test-db");
  ASSERT_TRUE(LoadVirusDatabase()) << "engine library or databases did not load";

  test::TempTree root;
  const std::string outside = root.Write("outside/eicar.com", kEicar);
  std::atomic<int> finished{0};
  std::atomic<int> reportedOutside{0};
  std::atomic<int> judged{0};
  int hung = 0;
  {
    Flipper flipper(root, outside);
    std::thread scanner([&] {
      QueuedDispatcher dispatcher;  // this thread is the scan's main thread
      for (int i = 0; i < kScans; ++i) {
        test::RecordingFrontEnd frontEnd;
        frontEnd.options.location = flipper.Tree();
        ScanSession session(frontEnd, dispatcher, VirusEngine.get());
        session.RunScan(ScanSession::Phases{false, false});
        session.WaitForEnd();
        // Every regular file of the tree is clean: any row is the outside file.
        if (frontEnd.list.Count() > 0) ++reportedOutside;
        judged += session.FilesScanned();
        ++finished;
      }
    });
    // The watchdog: a scan past its deadline counts as hung and its readers are
    // let go, so that the test fails instead of hanging; one that stays stuck
    // ends the test program.
    int seen = 0;
    int releases = 0;
    auto since = std::chrono::steady_clock::now();
    while (finished < kScans) {
      std::this_thread::sleep_for(20ms);
      const auto now = std::chrono::steady_clock::now();
      if (finished != seen) {
        seen = finished;
        releases = 0;
        since = now;
      } else if (now - since > kScanDeadline) {
        if (releases == 0) ++hung;
        if (++releases > 5) {
          std::fprintf(stderr, "scan %d stays stuck even with its FIFOs released\n", seen + 1);
          std::_Exit(1);
        }
        flipper.ReleaseReaders();
        since = now;
      }
    }
    scanner.join();
  }
  VirusEngine.reset();

  std::printf("%d scans judged %d files; %d hung, %d reported the outside file\n", kScans, judged.load(), hung,
              reportedOutside.load());
  EXPECT_GT(judged, kScans) << "the walk found almost nothing to judge";
  EXPECT_EQ(hung, 0) << hung << " of " << kScans << " scans hung on a FIFO";
  EXPECT_EQ(reportedOutside, 0) << reportedOutside << " of " << kScans
                                << " scans reported the file a link points to";
}

}  // namespace
}  // namespace korbu
#endif  // _WIN32
