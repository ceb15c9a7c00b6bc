#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "dispatch/QueuedDispatcher.h"

namespace korbu {
namespace {

TEST(QueuedDispatcher, RunsHandOversInOrderAndReturnsTheirErrors) {
  QueuedDispatcher mainThread;
  std::vector<int> order;
  bool thrown = false;
  std::atomic<bool> rethrown{false};
  std::thread worker([&] {
    for (int i = 0; i < 50; ++i) mainThread.RunOnMainThread([&, i] { order.push_back(i); });
    try {
      mainThread.RunOnMainThread([&] {
        thrown = true;
        throw std::runtime_error("x");
      });
    } catch (const std::runtime_error&) {
      rethrown = true;
    }
  });
  mainThread.WaitWithMessages([&] { return thrown; });
  worker.join();
  EXPECT_TRUE(rethrown);
  ASSERT_EQ(order.size(), 50u);
  EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
}

}  // namespace
}  // namespace korbu
