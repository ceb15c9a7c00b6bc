#include "app/QtMainThreadDispatcher.h"

#include <QCoreApplication>
#include <QEventLoop>
#include <QThread>
#include <QTimer>

#include <exception>

namespace korbu {

QtMainThreadDispatcher::QtMainThreadDispatcher() = default;
QtMainThreadDispatcher::~QtMainThreadDispatcher() = default;

bool QtMainThreadDispatcher::IsMainThread() const {
  return QThread::currentThread() == receiver_.thread();
}

void QtMainThreadDispatcher::RunOnMainThread(const std::function<void()>& work) {
  if (IsMainThread()) {
    work();
    return;
  }
  std::exception_ptr error;
  // Blocking queued calls from one thread run one after another, in order.
  QMetaObject::invokeMethod(
      &receiver_,
      [&work, &error] {
        try {
          work();
        } catch (...) {
          error = std::current_exception();
        }
      },
      Qt::BlockingQueuedConnection);
  if (error) std::rethrow_exception(error);
}

void QtMainThreadDispatcher::ProcessPendingMessages() {
  if (!IsMainThread()) return;
  QCoreApplication::processEvents();
}

void QtMainThreadDispatcher::WaitWithMessages(const std::function<bool()>& done) {
  if (!IsMainThread()) {
    // Nothing to run here; let the main thread do the hand-overs.
    while (!done()) QThread::msleep(5);
    return;
  }
  // A hand-over wakes the blocked loop by itself; the timer only makes sure a done()
  // that turned true some other way is seen soon.
  QTimer wake;
  wake.start(20);
  while (!done()) {
    QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents |
                                    QEventLoop::WaitForMoreEvents);
  }
}

}  // namespace korbu
