#include "dispatch/QueuedDispatcher.h"

namespace korbu {

QueuedDispatcher::QueuedDispatcher() : mainThread_(std::this_thread::get_id()) {}

QueuedDispatcher::~QueuedDispatcher() {
  // Release any worker still waiting, so that it does not block for ever.
  ProcessPendingMessages();
}

void QueuedDispatcher::RunOnMainThread(const std::function<void()>& work) {
  if (IsMainThread()) {
    work();
    return;
  }
  auto item = std::make_shared<HandOver>();
  item->work = work;
  std::unique_lock lock(mutex_);
  queue_.push_back(item);
  queued_.notify_all();
  finished_.wait(lock, [&] { return item->finished; });
  if (item->error) std::rethrow_exception(item->error);
}

bool QueuedDispatcher::IsMainThread() const { return std::this_thread::get_id() == mainThread_; }

std::size_t QueuedDispatcher::PendingCount() const {
  std::lock_guard lock(mutex_);
  return queue_.size();
}

std::shared_ptr<QueuedDispatcher::HandOver> QueuedDispatcher::Take(bool wait) {
  std::unique_lock lock(mutex_);
  if (wait) queued_.wait(lock, [&] { return !queue_.empty(); });
  if (queue_.empty()) return nullptr;
  auto item = std::move(queue_.front());
  queue_.pop_front();
  return item;
}

void QueuedDispatcher::Run(HandOver& item) {
  try {
    item.work();
  } catch (...) {
    item.error = std::current_exception();
  }
  {
    std::lock_guard lock(mutex_);
    item.finished = true;
  }
  finished_.notify_all();
}

void QueuedDispatcher::ProcessPendingMessages() {
  if (!IsMainThread()) return;  // hand-overs belong to the main thread
  // Only what is queued now: a worker that hands over again at once waits for the
  // next call, so this always returns.
  std::size_t count = PendingCount();
  while (count-- > 0) {
    auto item = Take(false);
    if (!item) break;
    Run(*item);
  }
}

void QueuedDispatcher::WaitWithMessages(const std::function<bool()>& done) {
  if (!IsMainThread()) {
    // Another thread cannot run the hand-overs; it waits while the main thread does.
    std::unique_lock lock(mutex_);
    finished_.wait(lock, [&] { return done(); });
    return;
  }
  while (!done()) {
    auto item = Take(true);
    Run(*item);
  }
}

}  // namespace korbu
