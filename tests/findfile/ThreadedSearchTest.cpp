#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <memory>
#include <stdexcept>
#include <thread>

#include "WalkRecorder.h"
#include "dispatch/QueuedDispatcher.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

using Events = std::vector<std::string>;
using test::TempTree;
using test::WalkRecorder;

struct Threaded : ::testing::Test {
  TempTree tree;
  QueuedDispatcher mainThread;
  std::unique_ptr<TFindFile> search = std::make_unique<TFindFile>(&mainThread);
  WalkRecorder log{*search, tree.Path() + "/"};
  std::atomic<int> matches{0};

  void SetUp() override {
    for (int i = 0; i < 300; ++i) tree.Write("f" + std::to_string(i), "x");
    search->Threaded = true;
    search->Criteria().Files.FileName = "*.*";
    search->Criteria().Files.Location = tree.Path();
  }
  // Counts the matches; with handOver each one also goes to the main thread. The
  // fifth report is held until the search is aborted, so Abort meets a running walk.
  void CountMatches(bool handOver) {
    search->OnFileMatch = [this, handOver](TFindFile& f, const std::string&, const TSearchRec&) {
      ++matches;
      if (handOver) mainThread.RunOnMainThread([this] { log.Add("file"); });
      if (matches == 5) SpinUntil([&] { return f.Aborted(); });
    };
  }
  void SpinUntil(const std::function<bool()>& done) {
    while (!done()) std::this_thread::yield();
  }
  bool AbortBeforeFinish() const {
    // A hand-over of the report in progress may still land between the two.
    const Events e = log.Events();
    return std::count(e.begin(), e.end(), "abort") == 1 && e.back() == "finish" &&
           std::count(e.begin(), e.end(), "finish") == 1;
  }
};

TEST_F(Threaded, WalksOnWorkerAndEndsOnMainWhileBusy) {
  const auto mainId = std::this_thread::get_id();
  std::atomic<bool> wrongThread{false};
  search->OnFolderChange = [&](TFindFile&, const std::string&, TFolderIgnore&) {
    wrongThread = wrongThread || std::this_thread::get_id() == mainId;
  };
  search->OnSearchFinish = [&](TFindFile& f) {
    wrongThread = wrongThread || std::this_thread::get_id() != mainId || !f.Busy();
    log.Add("finish");
  };
  search->Start();
  EXPECT_TRUE(search->Busy());
  search->WaitForSearchEnd();
  EXPECT_FALSE(search->Busy());
  EXPECT_FALSE(wrongThread);
  EXPECT_EQ(log.Events().front(), "begin");
  EXPECT_EQ(log.Events().back(), "finish");
  EXPECT_EQ(log.Files().size(), 300u);
}

TEST_F(Threaded, AbortOnMainRunsPendingHandOversAndStopsReports) {
  CountMatches(true);
  search->Start();
  mainThread.WaitWithMessages([&] { return matches >= 5; });
  search->Abort();
  EXPECT_FALSE(search->Busy());
  EXPECT_TRUE(search->Aborted());
  const int atReturn = matches;
  EXPECT_EQ(atReturn, 5);
  EXPECT_TRUE(AbortBeforeFinish());
  search.reset();  // joins the worker
  EXPECT_EQ(matches, atReturn);
}

TEST_F(Threaded, AbortFromAnotherThreadReturnsWhenSearchEnded) {
  CountMatches(false);
  search->Start();
  std::atomic<bool> busyAtReturn{true};
  std::atomic<int> atReturn{-1};
  std::thread stopper([&] {
    SpinUntil([&] { return matches >= 5; });
    search->Abort();  // while the fifth report is in progress
    busyAtReturn = search->Busy();
    atReturn = matches.load();
  });
  search->WaitForSearchEnd();
  stopper.join();
  EXPECT_FALSE(busyAtReturn);
  EXPECT_EQ(atReturn, 5);
  EXPECT_TRUE(AbortBeforeFinish()) << ::testing::PrintToString(log.Events());
  search.reset();
  EXPECT_EQ(matches, atReturn);
}

TEST_F(Threaded, AbortAfterWalkButBeforeEndOfSearchStillRaisesAbort) {
  search->Start();
  SpinUntil([&] { return mainThread.PendingCount() == 1; });  // the end of search waits
  EXPECT_TRUE(search->Busy());
  search->Abort();
  EXPECT_FALSE(search->Busy());
  EXPECT_EQ(log.Files().size(), 300u);
  EXPECT_TRUE(AbortBeforeFinish());
}

TEST_F(Threaded, StartFromFinishDoesNothingAndNextStartWorks) {
  search->OnSearchFinish = [&](TFindFile& f) {
    log.Add("finish");
    f.Start();
    f.WaitForSearchEnd();  // must not wait for the end it is part of
  };
  search->Start();
  search->WaitForSearchEnd();
  search->Start();
  search->WaitForSearchEnd();
  const Events e = log.Events();
  EXPECT_EQ(std::count(e.begin(), e.end(), "begin"), 2);
  EXPECT_EQ(std::count(e.begin(), e.end(), "finish"), 2);
  EXPECT_EQ(log.Files().size(), 600u);
}

TEST_F(Threaded, DestroyingWhileRunningSuppressesEvents) {
  CountMatches(true);
  search->Start();
  mainThread.WaitWithMessages([&] { return matches >= 3; });
  search.reset();
  const Events e = log.Events();
  EXPECT_EQ(std::count(e.begin(), e.end(), "finish") + std::count(e.begin(), e.end(), "abort"), 0);
  EXPECT_LE(matches, 5);
}

TEST_F(Threaded, WalkerErrorEndsSearchQuietly) {
  search->OnFileMatch = [](TFindFile&, const std::string&, const TSearchRec&) { throw std::runtime_error("x"); };
  search->Start();
  search->WaitForSearchEnd();
  EXPECT_EQ(log.Events().back(), "finish");
}

TEST_F(Threaded, AbortFromTheWalkersOwnHandlerDoesNotWaitForItself) {
  search->OnFileMatch = [](TFindFile& f, const std::string&, const TSearchRec&) { f.Abort(); };
  search->Start();
  search->WaitForSearchEnd();
  EXPECT_TRUE(AbortBeforeFinish());
}

// The end of a search comes after an abort event still running: on another thread
// while a search without a worker ends its walk, or while a threaded search's end
// already waits on the main thread; or on the main thread, its handler running
// the hand-overs (the end among them).
TEST_F(Threaded, TheEndWaitsForAnAbortEventStillRunning) {
  std::atomic<bool> inAbort{false};
  std::atomic<bool> release{false};
  const auto lastSearchAbortedThenFinished = [&] {
    const Events e = log.Events();
    const Events last(std::find(e.rbegin(), e.rend(), "begin").base(), e.end());
    return last.size() >= 2 && last[last.size() - 2] == "abort" && last.back() == "finish" &&
           std::count(last.begin(), last.end(), "finish") == 1;
  };
  search->OnSearchAbort = [&](TFindFile&) {
    inAbort = true;
    SpinUntil([&] { return release.load(); });
    // Leaves a finish raised too early the time to show up first.
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    log.Add("abort");
  };
  std::thread stopper;
  const auto abortOnAnotherThread = [&] {
    inAbort = false;
    release = false;
    stopper = std::thread([&] { search->Abort(); });
    SpinUntil([&] { return inAbort.load(); });
  };

  search->Threaded = false;
  search->OnFileMatch = [&](TFindFile&, const std::string&, const TSearchRec&) {
    if (++matches == 5) abortOnAnotherThread();
  };
  search->OnWalkEnd = [&](TFindFile&) { release = true; };
  search->Start();
  stopper.join();
  EXPECT_TRUE(lastSearchAbortedThenFinished()) << ::testing::PrintToString(log.Events());

  search->Threaded = true;
  search->OnFileMatch = nullptr;
  search->OnWalkEnd = nullptr;
  search->Start();
  SpinUntil([&] { return mainThread.PendingCount() == 1; });  // the end waits on the main thread
  abortOnAnotherThread();
  mainThread.ProcessPendingMessages();
  EXPECT_TRUE(search->Busy());
  release = true;
  search->WaitForSearchEnd();
  stopper.join();
  EXPECT_TRUE(lastSearchAbortedThenFinished()) << ::testing::PrintToString(log.Events());

  search->OnSearchAbort = [&](TFindFile&) {
    mainThread.ProcessPendingMessages();
    log.Add("abort");
  };
  search->Start();
  SpinUntil([&] { return mainThread.PendingCount() == 1; });
  search->Abort();
  EXPECT_FALSE(search->Busy());
  EXPECT_TRUE(lastSearchAbortedThenFinished()) << ::testing::PrintToString(log.Events());
}

TEST_F(Threaded, DestroyingWhileTheEndWaitsOnTheMainThreadSuppressesEvents) {
  search->Start();
  SpinUntil([&] { return mainThread.PendingCount() == 1; });
  search.reset();
  const Events e = log.Events();
  EXPECT_EQ(std::count(e.begin(), e.end(), "finish") + std::count(e.begin(), e.end(), "abort"), 0);
  EXPECT_EQ(log.Files().size(), 300u);
  EXPECT_EQ(mainThread.PendingCount(), 0u);
}

}  // namespace
}  // namespace korbu
