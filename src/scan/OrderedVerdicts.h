#pragma once
// The verdicts of a walk's files, computed by several workers on the one engine
// and handed on in the order the walk reported the files, so that whoever adds
// the rows sees every earlier row first.
//
// Threads: Submit and Finish are called by the walker only, and deliver runs on
// the walker; Stop may come from any thread.

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "scan/FileVerdict.h"
#include "scan/ScanContext.h"

namespace korbu {

class OrderedVerdicts {
 public:
  using Deliver = std::function<void(const FileVerdictResult&)>;

  /// Starts workers (at least one) that judge files with the context's sources.
  OrderedVerdicts(unsigned workers, const ScanContext& context);
  /// Stops and joins the workers; files not yet delivered are dropped.
  ~OrderedVerdicts();
  OrderedVerdicts(const OrderedVerdicts&) = delete;
  OrderedVerdicts& operator=(const OrderedVerdicts&) = delete;

  /// Queues a file. Verdicts already finished are delivered, in order, before it
  /// returns; while the queue is full it waits, delivering meanwhile. After Stop
  /// the file is dropped.
  void Submit(std::string path, const Deliver& deliver);

  /// Queues a note that runs on the walker in its place among the verdicts, so
  /// that what the walk reports besides files (a folder it cannot list) keeps
  /// the walk's order. Notes are never dropped.
  void SubmitNote(std::function<void()> note, const Deliver& deliver);

  /// Waits until every queued file has been delivered, or dropped after Stop.
  void Finish(const Deliver& deliver);

  /// No verdict starts after this. Verdicts already running still finish and are
  /// delivered in their place; files whose verdict had not begun are dropped.
  void Stop();

 private:
  enum class State { Queued, Running, Done, Dropped };
  struct Job {
    FileVerdictResult result;
    State state = State::Queued;
    std::function<void()> note;  // a note instead of a file: Done from the start
  };

  void Work();
  // Delivers the finished jobs at the front; waits for the front one when wait.
  // Called with lock held; unlocks it around each delivery.
  void DeliverFront(std::unique_lock<std::mutex>& lock, const Deliver& deliver, bool wait);

  const ScanContext context_;
  const std::size_t capacity_;
  std::mutex mutex_;
  // Separate wake-ups, so that a file queued wakes one worker, not the walker, and
  // a verdict finished wakes the walker only when it is the one delivered next.
  std::condition_variable workQueued_;   // workers wait: a job to start, or closing
  std::condition_variable frontDone_;    // the walker waits: the front job finished
  std::deque<Job> jobs_;         // from the oldest not yet delivered
  std::size_t nextToStart_ = 0;  // index into jobs_ of the first queued job
  bool stopped_ = false;
  bool closing_ = false;
  std::vector<std::thread> workers_;
};

}  // namespace korbu
