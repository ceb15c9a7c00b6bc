// A task file that the worm cuts short and fills again while "Clean" searches it.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <string>
#include <thread>

#include "services/Searches.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

TEST(TruncatedSearchTest, AFileCutShortDuringTheSearchEndsItWithoutACrash) {
  test::TempTree tree;
  const std::string mark("D\0o\0c\0u\0m\0e\0n\0t\0s\0", 18);
  constexpr off_t kSize = 16 << 20;
  constexpr off_t kMarkAt = 12 << 20;
  const std::string job = tree.Write("task.job", "");
  // In a child of its own: a crash there (SIGBUS from a mapped file that shrank)
  // fails the test instead of ending the test program.
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  EXPECT_EXIT(
      {
        const int fd = ::open(job.c_str(), O_WRONLY | O_CLOEXEC);
        std::atomic<bool> stop{false};
        std::thread cutter([&] {
          while (!stop.load()) {
            if (::ftruncate(fd, kSize) != 0 || ::pwrite(fd, mark.data(), mark.size(), kMarkAt) < 0) std::_Exit(3);
            ::usleep(500);
            if (::ftruncate(fd, 4096) != 0) std::_Exit(3);
            ::usleep(500);
          }
        });
        for (int i = 0; i < 300; ++i) {
          const std::int32_t at = FindInFile(mark, job);
          if (at != -1 && at != kMarkAt) std::_Exit(2);  // a match where there is none
        }
        stop.store(true);
        cutter.join();
        std::_Exit(0);
      },
      ::testing::ExitedWithCode(0), "");
}

}  // namespace
}  // namespace korbu
