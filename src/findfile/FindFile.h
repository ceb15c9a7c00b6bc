#pragma once
// TFindFile walks folder trees, tests every directory entry against its criteria and
// reports each accepted file through an event, on the caller's thread or on a worker
// thread of its own.
//
// Threads: OnSearchBegin runs on the caller of Start; OnFolderChange and OnFileMatch
// on the walker (the worker when Threaded; they are called there directly and must
// hand over to the main thread what they share with it); OnSearchAbort on the caller
// of Abort; OnSearchFinish, for a threaded search, on the main thread through the
// dispatcher, otherwise on the caller of Start. Threaded and the events are set
// before Start and left alone while the search is Busy.
//
// The end of a search (OnSearchFinish, then Busy false) runs once the walk is over
// and no OnSearchAbort is being raised, so that an abort always comes first;
// whichever of the two is done last hands the end over, once.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "dispatch/MainThreadDispatcher.h"
#include "findfile/SearchCriteria.h"
#include "findfile/SearchRec.h"
#include "findfile/TargetSearch.h"

namespace korbu {

/// What the walk skips in a folder, chosen by an OnFolderChange handler.
enum class TFolderIgnore {
  fiNothing,             // search the folder's files and descend
  fiFiles,               // skip its files, still descend
  fiSubfolders,          // search its files, do not descend
  fiFilesAndSubfolders,  // skip both
};

class TFindFile final {
 public:
  using TFileMatchEvent =
      std::function<void(TFindFile& sender, const std::string& folder, const TSearchRec& fileInfo)>;
  using TFolderChangeEvent =
      std::function<void(TFindFile& sender, const std::string& folder, TFolderIgnore& ignoreFolder)>;
  using TNotifyEvent = std::function<void(TFindFile& sender)>;
  using TNotifyFolderEvent = std::function<void(TFindFile& sender, const std::string& folder)>;
  using TWalkErrorEvent =
      std::function<void(TFindFile& sender, const std::string& folder, const std::string& reason)>;
  using TEntryEvent = std::function<void(TFindFile& sender, const std::string& folder, const std::string& name)>;

  /// mainThread hands the end of a threaded search to the main thread and lets
  /// Abort wait there; a search that is never Threaded needs none.
  explicit TFindFile(MainThreadDispatcher* mainThread = nullptr);
  /// Aborts a running search with its begin, finish and abort events suppressed and
  /// waits for it to end.
  ~TFindFile();
  TFindFile(const TFindFile&) = delete;
  TFindFile& operator=(const TFindFile&) = delete;

  TSearchCriteria& Criteria() { return criteria_; }
  const TSearchCriteria& Criteria() const { return criteria_; }
  void SetCriteria(const TSearchCriteria& criteria) { criteria_.Assign(criteria); }

  bool Threaded = false;
  /// The command line's widening of the walk (the window keeps the defaults):
  /// links met are followed to what they lead to, which is walked or reported by
  /// its own full name, each linked folder once per target; and, without
  /// CrossFileSystems, no folder on another file system than its target's is entered.
  bool FollowFolderLinks = false;
  bool FollowFileLinks = false;
  bool CrossFileSystems = true;

  TFileMatchEvent OnFileMatch;
  TFolderChangeEvent OnFolderChange;
  TNotifyEvent OnSearchBegin;
  TNotifyEvent OnSearchFinish;
  TNotifyEvent OnSearchAbort;
  /// A folder of the walk could not be listed (unreadable, vanished): raised on the
  /// walker, once per folder, not once Aborted. The walk goes on without it.
  TWalkErrorEvent OnWalkError;
  /// A folder of the walk lies on a made-up file system (proc, sysfs, devices) and
  /// is not entered: raised on the walker, once per such folder. File systems of
  /// real files mounted below it are walked all the same.
  TNotifyFolderEvent OnFolderSkipped;
  /// A directory entry that the walk's file masks match but that is neither a file
  /// nor a folder (a link, FIFO, socket or device): never opened nor reported as
  /// a file. Raised on the walker with the folder and the entry's name.
  TEntryEvent OnEntryPassedOver;
  /// Raised on the walker once the walk has returned (finished or stopped), before
  /// the end of search is handed to the main thread: what the walker still owes the
  /// main thread is handed over here.
  TNotifyEvent OnWalkEnd;

  /// True from Start until the end of the search (OnSearchFinish included) has run.
  bool Busy() const;
  /// Set by Abort, cleared by Start.
  bool Aborted() const { return aborted_.load(); }
  /// Depth of the folder being walked; a target folder itself is level 1.
  std::uint16_t CurrentLevel() const { return currentLevel_.load(std::memory_order_relaxed); }
  /// The target folder being walked (for the walker's handlers).
  const TTargetFolder* CurrentTarget() const { return currentTarget_; }

  /// Begins a search with the current criteria; does nothing while Busy. Returns at
  /// once when Threaded, otherwise when the walk and its end are done. An exception
  /// of the walk or of a handler ends the search (OnSearchFinish runs) and goes on to
  /// the caller. Threaded without a dispatcher throws std::logic_error.
  void Start();

  /// Stops a running search: sets Aborted and raises OnSearchAbort, unless the search
  /// is not Busy, already Aborted or its end has begun. Then it returns once the
  /// search has ended (Busy is false), on the main thread running hand-overs
  /// meanwhile. Called from the search's own handlers (on the walker, or in its
  /// begin, abort or finish event) it does not wait: the walk stops when the
  /// handler returns.
  void Abort();

  /// Returns once the running search (if any) has ended; on the main thread it runs
  /// the hand-overs meanwhile. The command line's way of waiting for a threaded
  /// search. Does not wait when called from the search's own handlers.
  void WaitForSearchEnd();

 private:
  void DoSearchBegin();
  void DoSearchFinish();
  void DoSearchAbort();
  TFolderIgnore DoFolderChange(const std::string& folder);
  void DoFileMatch(const std::string& folder, const TSearchRec& fileInfo);
  bool AcceptFile(const std::string& folder, const TSearchRec& fileInfo) const;
  void DoWalkEnd();
  void WalkTargets();
  void WalkFolder(const std::string& folder);
  /// Where a link of the walk leads, in full, or empty for a link to nowhere.
  static std::string LinkTarget(const std::string& link);
  /// Walks the folders the links of folder lead to (FollowFolderLinks).
  void WalkLinkedFolders(const std::string& folder, const std::string& listed);
  void DoWalkError(const std::string& folder, const std::string& reason);
  void WorkerBody();
  void WalkReturned();
  void AbortRaised();
  void HandOverEnd();
  void Finish();
  void MarkEnded();
  void AwaitEnd(std::uint64_t search);
  void JoinWorker();

  // Where a search stands, from Start to the end of search.
  enum class Phase {
    Idle,           // no search: Busy is false
    Walking,        // begun; the walk (or its begin event) runs
    WalkOver,       // a worker's walk is over; the end waits for the abort event being raised
    EndHandedOver,  // a worker's end is due and on its way to the main thread
    Ending,         // OnSearchFinish runs; too late for an abort event
  };

  TSearchCriteria criteria_;
  MainThreadDispatcher* const dispatcher_;
  std::unique_ptr<TTargetSearch> targetSearch_;
  const TTargetFolder* currentTarget_ = nullptr;
  std::atomic<std::uint16_t> currentLevel_{0};
  std::set<std::string> linkedFolders_;  // folders entered through links, and the target's own
  std::uint64_t targetDevice_ = 0;       // the target's file system, for CrossFileSystems
  std::thread worker_;

  // The stop and end protocol. aborted_ is polled by the walker between entries;
  // destroying_ mutes the begin, abort and finish events. The rest is guarded by
  // mutex_ and its changes are signalled through changed_.
  std::atomic<bool> aborted_{false};
  std::atomic<bool> destroying_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Phase phase_ = Phase::Idle;
  bool raisingAbort_ = false;  // OnSearchAbort runs (at most once a search)
  std::uint64_t search_ = 0;   // searches begun: a waiter's search ended once it changes
};

}  // namespace korbu
