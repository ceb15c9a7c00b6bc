// The Qt main-thread hand-over: order, results, errors and the message-processing wait.

#include <QApplication>
#include <QTest>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>
#include <vector>

#include "app/QtMainThreadDispatcher.h"

using korbu::QtMainThreadDispatcher;

class DispatcherTest : public QObject {
  Q_OBJECT

 private slots:
  void HandOversRunOnTheMainThreadInOrder() {
    QtMainThreadDispatcher dispatcher;
    QVERIFY(dispatcher.IsMainThread());
    const auto mainThread = std::this_thread::get_id();
    std::vector<int> seen;  // touched on the main thread only
    bool allOnMain = true;
    std::atomic<bool> workerDone{false};
    bool workerSawMainThread = true;
    std::thread worker([&] {
      workerSawMainThread = dispatcher.IsMainThread();
      for (int i = 0; i < 200; ++i) {
        // Each hand-over sees every earlier one: the worker waits for it to run.
        dispatcher.RunOnMainThread([&, i] {
          allOnMain = allOnMain && std::this_thread::get_id() == mainThread;
          if (seen.size() != static_cast<std::size_t>(i)) allOnMain = false;
          seen.push_back(i);
        });
      }
      dispatcher.RunOnMainThread([&] { workerDone = true; });
    });
    dispatcher.WaitWithMessages([&] { return workerDone.load(); });
    worker.join();
    QVERIFY(!workerSawMainThread);
    QVERIFY(allOnMain);
    QCOMPARE(seen.size(), std::size_t{200});
    for (int i = 0; i < 200; ++i) QCOMPARE(seen[static_cast<std::size_t>(i)], i);
  }

  void ErrorsOfAHandOverReachTheWorker() {
    QtMainThreadDispatcher dispatcher;
    std::atomic<bool> finished{false};
    std::string caught;
    std::thread worker([&] {
      try {
        dispatcher.RunOnMainThread([] { throw std::runtime_error("verdict failed"); });
      } catch (const std::runtime_error& error) {
        caught = error.what();
      }
      dispatcher.RunOnMainThread([&] { finished = true; });
    });
    dispatcher.WaitWithMessages([&] { return finished.load(); });
    worker.join();
    QCOMPARE(QString::fromStdString(caught), QStringLiteral("verdict failed"));
  }

  void OnTheMainThreadWorkRunsAtOnce() {
    QtMainThreadDispatcher dispatcher;
    int runs = 0;
    dispatcher.RunOnMainThread([&] { ++runs; });
    QCOMPARE(runs, 1);
  }

  void WaitKeepsTimersRunningAndSeesDoneSetWithoutAHandOver() {
    QtMainThreadDispatcher dispatcher;
    std::atomic<bool> done{false};
    bool timerRan = false;
    QTimer::singleShot(0, [&] { timerRan = true; });
    std::thread worker([&] {
      dispatcher.RunOnMainThread([] {});
      done = true;
    });
    dispatcher.WaitWithMessages([&] { return done.load(); });
    worker.join();
    QVERIFY(timerRan);
  }
};

QTEST_MAIN(DispatcherTest)
#include "DispatcherTest.moc"
