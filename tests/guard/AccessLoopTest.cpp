// The guard's event loop in this process, as root on a tmpfs of the test's own:
// stopping it while a judgement opens its file by name.

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <chrono>
#include <future>
#include <gtest/gtest.h>
#include <memory>

#include "GuardSandbox.h"
#include "guard/AccessLoop.h"
#include "guard/FanotifyGroup.h"
#include "guard/GuardReport.h"
#include "guard/GuardStatus.h"

namespace korbu::test {
namespace {

using namespace std::chrono_literals;

TEST(AccessLoopTest, AStopWaitsForNoJudgementThatOpensItsFileMeanwhile) {
  if (const std::string why = GuardSandbox::Unavailable(); !why.empty()) GTEST_SKIP() << why;
  GuardSandbox sandbox;
  const std::string photo = sandbox.Watched("stick/photo.jpg");
  WriteFileBytes(photo, "not a program");  // before the mark: this process must not ask itself
  Expected<guard::FanotifyGroup> group = guard::FanotifyGroup::Create();
  ASSERT_TRUE(group) << group.error().reason;
  ASSERT_TRUE(group->MarkMount(sandbox.Watched()));
  guard::GuardStatus status(sandbox.Path("status"));
  guard::GuardReport report(guard::ReportSettings{false, false, false}, status);
  const ScanContext context;
  auto loop = std::make_unique<guard::AccessLoop>(*group, context, report, 5000ms, 1);

  // A volume's file, judged by name: its worker's open waits in the group's
  // queue, as the loop does not run (it stopped).
  loop->JudgeNamed(photo);
  pollfd asked{group->Fd(), POLLIN, 0};
  ASSERT_EQ(::poll(&asked, 1, 5000), 1);
  auto stopped = std::async(std::launch::async, [&loop] { loop.reset(); });
  const bool ended = stopped.wait_for(5s) == std::future_status::ready;
  if (!ended) {
    // Releases the worker: with the group's last descriptor gone, the kernel
    // lets its events go; the number stays open for the group's own close.
    const int null = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
    ::dup2(null, group->Fd());
    ::close(null);
  }
  stopped.wait();
  EXPECT_TRUE(ended) << "the stop waited for a judgement that waited for the stopped loop";
}

}  // namespace
}  // namespace korbu::test
