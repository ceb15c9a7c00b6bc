// The guard's bookkeeping: each waiting access answered once, the order the
// workers take their judgements in, and the status only the guard may write.

#include <sched.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <fstream>
#include <gtest/gtest.h>
#include <mutex>
#include <sstream>
#include <thread>
#include <vector>

#include "guard/GuardOptions.h"
#include "guard/GuardStatus.h"
#include "guard/IdleSpinners.h"
#include "guard/JudgeWorkers.h"
#include "guard/PendingAccesses.h"
#include "support/TempTree.h"

namespace korbu::guard {
namespace {

using namespace std::chrono_literals;

TEST(PendingAccessesTest, EachAccessIsClaimedOnceByWorkerOrDeadline) {
  PendingAccesses pending;
  const auto now = PendingAccesses::Clock::now();
  pending.Add(7, "/w/late", now - 1ms);
  pending.Add(8, "/w/early", now + 1h);
  PendingAccesses::Clock::time_point next;
  ASSERT_TRUE(pending.NextDeadline(next));
  EXPECT_EQ(next, now - 1ms);

  const auto expired = pending.ClaimExpired(now);
  ASSERT_EQ(expired.size(), 1U);
  EXPECT_EQ(expired[0].eventFd, 7);
  EXPECT_EQ(expired[0].name, "/w/late");
  // Its worker comes too late: the answer was given.
  EXPECT_FALSE(pending.Claim(7));
  EXPECT_TRUE(pending.Claim(8));
  EXPECT_FALSE(pending.Claim(8));

  pending.Add(9, "/w/stop", now + 1h);
  EXPECT_EQ(pending.ClaimExpired(now, true).size(), 1U);
  EXPECT_FALSE(pending.NextDeadline(next));
}

TEST(JudgeWorkersTest, WaitingAccessesGoFirstThenTheNewestWrittenFilesAndTheOldestPastTheBoundByName) {
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  std::vector<std::string> order;
  std::atomic<int> held{0};
  std::atomic<bool> blocking{false};
  JudgeWorkers workers(1, [&](Judgement& j) {
    std::unique_lock lock(mutex);
    if (j.name == "block") {
      blocking = true;
      cv.wait(lock, [&] { return release; });
      return;
    }
    if (j.file.IsOpen()) ++held;
    order.push_back(j.name);
  });
  workers.Push(Judgement{Judgement::Kind::Named, {}, -1, "block", 0});
  while (!blocking) std::this_thread::yield();  // the one thread waits in "block"
  workers.Push(Judgement{Judgement::Kind::Named, {}, -1, "volume", 0});
  test::TempTree tree;
  const std::string file = tree.Write("f", "x");
  for (std::size_t i = 0; i <= JudgeWorkers::kHeldWrittenLimit; ++i) {
    workers.Push(
        Judgement{Judgement::Kind::Written, platform::OpenedFile::Open(file), -1, "written" + std::to_string(i), 0});
  }
  workers.Push(Judgement{Judgement::Kind::Access, {}, -1, "access", 0});
  {
    const std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  while (workers.Busy() != 0) std::this_thread::yield();
  workers.Stop();
  ASSERT_EQ(order.size(), JudgeWorkers::kHeldWrittenLimit + 3);
  EXPECT_EQ(order.front(), "access");
  // The file closed last is judged first; the oldest went by name once the bound
  // was passed, still before the volume's file.
  EXPECT_EQ(order[1], "written" + std::to_string(JudgeWorkers::kHeldWrittenLimit));
  EXPECT_EQ(order[order.size() - 2], "written0");
  EXPECT_EQ(order.back(), "volume");
  EXPECT_EQ(held.load(), static_cast<int>(JudgeWorkers::kHeldWrittenLimit));
}

TEST(JudgeWorkersTest, FilesNobodyWaitsForAreJudgedOnlyOnIdleProcessorsUntilRaisedAndAccessesAtTheGuardsPriority) {
  if (::geteuid() != 0) GTEST_SKIP() << "only root may leave the idle class again";
  std::mutex mutex;
  std::condition_variable cv;
  bool release = false;
  std::vector<std::pair<std::string, int>> seen;  // name, policy when begun and when ended
  const auto record = [&](const std::string& what) { seen.emplace_back(what, ::sched_getscheduler(0)); };
  errno = 0;
  const int base = ::getpriority(PRIO_PROCESS, 0);
  ASSERT_EQ(errno, 0);
  int raisedNice = 0;
  JudgeWorkers workers(1, [&](Judgement& j) {
    std::unique_lock lock(mutex);
    record(j.name + " begun");
    cv.notify_all();
    if (j.name == "written") {
      cv.wait(lock, [&] { return release; });
      record(j.name + " ended");
      raisedNice = ::getpriority(PRIO_PROCESS, 0);
    }
  });
  workers.Push(Judgement{Judgement::Kind::Written, {}, -1, "written", 0});
  {
    std::unique_lock lock(mutex);
    cv.wait(lock, [&] { return !seen.empty(); });
  }
  EXPECT_TRUE(workers.JudgingInBackground());
  // Not yet long enough: left as it is.
  workers.RaiseStarved(JudgeWorkers::Clock::now(), 1h);
  workers.RaiseStarved(JudgeWorkers::Clock::now() + 2h, 1h);
  EXPECT_FALSE(workers.JudgingInBackground());
  workers.Push(Judgement{Judgement::Kind::Access, {}, -1, "access", 0});
  workers.Push(Judgement{Judgement::Kind::Named, {}, -1, "volume", 0});
  {
    const std::lock_guard lock(mutex);
    release = true;
  }
  cv.notify_all();
  while (workers.Busy() != 0) std::this_thread::yield();
  workers.Stop();
  const std::vector<std::pair<std::string, int>> expected{
      {"written begun", SCHED_IDLE}, {"written ended", SCHED_OTHER}, {"access begun", SCHED_OTHER},
      {"volume begun", SCHED_IDLE}};
  EXPECT_EQ(seen, expected);
  EXPECT_EQ(raisedNice, base + JudgeWorkers::kBackgroundNice);
}

// The processor time a thread of this process has used, in clock ticks.
long ThreadTicks(int tid) {
  std::ifstream stat("/proc/self/task/" + std::to_string(tid) + "/stat");
  std::string line;
  std::getline(stat, line);
  std::istringstream fields(line.substr(line.rfind(')') + 2));
  std::string field;
  long ticks = 0;
  for (int i = 3; i <= 15 && fields >> field; ++i) {
    if (i >= 14) ticks += std::stol(field);  // utime, stime
  }
  return ticks;
}

// Waits at most within for done; the spinners run only on idle processors.
template <typename Done>
bool Eventually(Done done, std::chrono::milliseconds within) {
  const auto end = std::chrono::steady_clock::now() + within;
  while (!done()) {
    if (std::chrono::steady_clock::now() >= end) return false;
    std::this_thread::sleep_for(1ms);
  }
  return true;
}

TEST(IdleSpinnersTest, OnlyABurstMakesThemSpinInTheIdleClassAndTheyStopWhenItEnds) {
  IdleSpinners spinners(2);
  ASSERT_TRUE(Eventually([&] { return spinners.ThreadIds().size() == 2; }, 5s));
  for (const int tid : spinners.ThreadIds()) EXPECT_EQ(::sched_getscheduler(tid), SCHED_IDLE) << tid;
  // Events far apart: none begins a burst.
  for (int i = 0; i < 3; ++i) {
    spinners.Arrived(IdleSpinners::Clock::now());
    std::this_thread::sleep_for(IdleSpinners::kQuiet * 5);
    EXPECT_EQ(spinners.Spinning(), 0);
  }
  for (int burst = 0; burst < 2; ++burst) {  // the second shows the first one's end left them ready
    const bool spun = Eventually(
        [&] {
          spinners.Arrived(IdleSpinners::Clock::now());
          spinners.Arrived(IdleSpinners::Clock::now());
          return spinners.Spinning() > 0;
        },
        5s);
    if (!spun && burst == 0) GTEST_SKIP() << "no processor was idle for 5 s";
    ASSERT_TRUE(spun) << "a second burst found them still taken by the first";
    ASSERT_TRUE(Eventually([&] { return spinners.Spinning() == 0; }, 5s)) << "burst " << burst;
  }
  // Ended: they use no processor time at all.
  std::vector<long> before;
  for (const int tid : spinners.ThreadIds()) before.push_back(ThreadTicks(tid));
  std::this_thread::sleep_for(300ms);
  std::vector<long> after;
  for (const int tid : spinners.ThreadIds()) after.push_back(ThreadTicks(tid));
  EXPECT_EQ(after, before);
}

TEST(GuardStatusTest, StatusIsPrintedOnlyFromAFileNoOtherUserCanWrite) {
  test::TempTree tree;
  const std::string file = tree.Path("run") + "/status";
  GuardStatus status(file);
  ASSERT_TRUE(status.Begin("2026-12-10T10:00:00Z"));
  status.Watching("/srv/share (its whole mount)");
  status.Refused("/srv/share/worm.exe: Worm.Test");
  std::ostringstream out, err;
  if (::geteuid() == 0) {
    // Written by this test rather than by a running guard: shown as a guard's last words.
    EXPECT_EQ(PrintGuardStatus(file, out, err), 3);
    EXPECT_NE(err.str().find("ended without stopping"), std::string::npos) << err.str();
    EXPECT_NE(out.str().find("watching /srv/share (its whole mount)\nrefused: 1\n  /srv/share/worm.exe"),
              std::string::npos)
        << out.str();
  }
  ::chmod(file.c_str(), 0666);
  EXPECT_EQ(PrintGuardStatus(file, out, err), 3);
  status.End();
  EXPECT_EQ(PrintGuardStatus(file, out, err), 3);
  EXPECT_NE(err.str().find("not running"), std::string::npos);
}

TEST(GuardOptionsTest, RefusesWhatCannotBeWatchedSoundly) {
  EXPECT_NE(ParseGuardArgs({}).error, "");
  EXPECT_NE(ParseGuardArgs({"relative/dir"}).error, "");
  EXPECT_NE(ParseGuardArgs({"--timeout", "0", "/srv"}).error, "");
  EXPECT_NE(ParseGuardArgs({"-d"}).error, "");
  const GuardParse parsed = ParseGuardArgs({"--removable", "--mount-folder=/mnt/sticks", "-d", "/db", "--", "/-odd"});
  ASSERT_EQ(parsed.error, "");
  EXPECT_EQ(parsed.options.mountFolders, std::vector<std::string>{"/mnt/sticks"});
  EXPECT_EQ(parsed.options.paths, std::vector<std::string>{"/-odd"});
  EXPECT_EQ(parsed.options.database, "/db");
}

}  // namespace
}  // namespace korbu::guard
