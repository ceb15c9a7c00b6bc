#include "scan/OrderedVerdicts.h"

#include <algorithm>
#include <exception>
#include <utility>


namespace korbu {
namespace {
// Files queued per worker: enough to keep every worker busy while the walker
// lists a folder, few enough that a Stop drops little and memory stays flat.
constexpr std::size_t kQueuedPerWorker = 4;
}  // namespace

OrderedVerdicts::OrderedVerdicts(unsigned workers, const ScanContext& context)
    : context_(context), capacity_(kQueuedPerWorker * std::max(1u, workers)) {
  const unsigned count = std::max(1u, workers);
  workers_.reserve(count);
  for (unsigned i = 0; i < count; ++i) workers_.emplace_back([this] { Work(); });
}

OrderedVerdicts::~OrderedVerdicts() {
  {
    std::lock_guard lock(mutex_);
    closing_ = true;
  }
  Stop();
  for (std::thread& worker : workers_) worker.join();
}

void OrderedVerdicts::Stop() {
  std::lock_guard lock(mutex_);
  stopped_ = true;
  for (std::size_t i = nextToStart_; i < jobs_.size(); ++i) {
    if (jobs_[i].state == State::Queued) jobs_[i].state = State::Dropped;
  }
  nextToStart_ = jobs_.size();
  workQueued_.notify_all();
  frontDone_.notify_all();
}

void OrderedVerdicts::Submit(std::string path, const Deliver& deliver) {
  std::unique_lock lock(mutex_);
  if (stopped_) return;
  while (jobs_.size() >= capacity_ && !stopped_) DeliverFront(lock, deliver, true);
  if (stopped_) return;
  jobs_.push_back(Job{FileVerdictResult{std::move(path), {}, {}, std::nullopt}, State::Queued, nullptr});
  workQueued_.notify_one();
  DeliverFront(lock, deliver, false);
}

void OrderedVerdicts::SubmitNote(std::function<void()> note, const Deliver& deliver) {
  std::unique_lock lock(mutex_);
  while (jobs_.size() >= capacity_) DeliverFront(lock, deliver, true);
  jobs_.push_back(Job{FileVerdictResult{}, State::Done, std::move(note)});
  DeliverFront(lock, deliver, false);
}

void OrderedVerdicts::Finish(const Deliver& deliver) {
  std::unique_lock lock(mutex_);
  while (!jobs_.empty()) DeliverFront(lock, deliver, true);
}

void OrderedVerdicts::DeliverFront(std::unique_lock<std::mutex>& lock, const Deliver& deliver, bool wait) {
  if (wait) {
    frontDone_.wait(lock, [this] {
      return jobs_.empty() || jobs_.front().state == State::Done || jobs_.front().state == State::Dropped;
    });
  }
  while (!jobs_.empty() && (jobs_.front().state == State::Done || jobs_.front().state == State::Dropped)) {
    Job job = std::move(jobs_.front());
    jobs_.pop_front();
    if (nextToStart_ > 0) --nextToStart_;
    if (job.note) {
      lock.unlock();
      job.note();
      lock.lock();
    } else if (job.state == State::Done && deliver) {
      lock.unlock();
      deliver(job.result);
      lock.lock();
    }
  }
}

void OrderedVerdicts::Work() {
  std::unique_lock lock(mutex_);
  for (;;) {
    workQueued_.wait(lock, [this] {
      // Notes need no worker.
      while (nextToStart_ < jobs_.size() && jobs_[nextToStart_].state != State::Queued) ++nextToStart_;
      return closing_ || nextToStart_ < jobs_.size();
    });
    if (nextToStart_ >= jobs_.size()) return;  // closing, nothing left to start
    // The job stays in the deque at a stable index relative to its neighbours,
    // but the front may be delivered meanwhile: keep a pointer, which a deque
    // keeps valid while only its ends change.
    Job* job = &jobs_[nextToStart_++];
    job->state = State::Running;
    FileVerdictResult result = std::move(job->result);
    lock.unlock();
    try {
      result = JudgeFile(result.path, context_);
    } catch (const std::exception& failure) {
      // A file whose verdict fails gets no row; the walk goes on.
      result.verdict.clear();
      result.error = failure.what();
    }
    lock.lock();
    job->result = std::move(result);
    job->state = State::Done;
    if (job == &jobs_.front()) frontDone_.notify_one();
  }
}

}  // namespace korbu
