#include "findfile/FindFile.h"

#include <cerrno>
#include <exception>
#include <stdexcept>
#include <system_error>
#include <utility>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace korbu {
namespace {

// The search whose worker runs on this thread, so that its own handlers can call
// Abort without waiting for themselves.
thread_local const TFindFile* tWalking = nullptr;

bool SearchesFiles(TFolderIgnore ignore) {
  return ignore == TFolderIgnore::fiNothing || ignore == TFolderIgnore::fiSubfolders;
}

bool Descends(TFolderIgnore ignore) {
  return ignore == TFolderIgnore::fiNothing || ignore == TFolderIgnore::fiFiles;
}

// Runs a step at scope exit, also when an exception passes.
template <typename Step>
class AtExit {
 public:
  explicit AtExit(Step step) : step_(std::move(step)) {}
  AtExit(const AtExit&) = delete;
  AtExit& operator=(const AtExit&) = delete;
  ~AtExit() { step_(); }

 private:
  Step step_;
};

// The path the platform lists for a folder of the walk. A subfolder is named
// without its final delimiter: a link put in its place after the parent's listing
// is then refused, where the delimiter would have the link followed. A target
// folder is listed as the user named it.
std::string ListingPath(const std::string& folder, std::uint16_t level) {
  if (level <= 1 || folder.size() < 2 || !platform::IsPathDelimiter(folder.back())) return folder;
  return folder.substr(0, folder.size() - 1);
}

}  // namespace

TFindFile::TFindFile(MainThreadDispatcher* mainThread) : dispatcher_(mainThread) {}

TFindFile::~TFindFile() {
  destroying_ = true;
  Abort();
  WaitForSearchEnd();
  JoinWorker();
}

bool TFindFile::OnWalkerThread() const { return tWalking == this; }

void TFindFile::Start() {
  {
    std::lock_guard lock(stateMutex_);
    if (busy_) return;
    busy_ = true;
    aborted_ = false;
    finishing_ = false;
    ++searchNumber_;
  }
  // The last worker has run its end of search already; it only has to return.
  JoinWorker();
  threadedSearch_ = Threaded;
  if (threadedSearch_ && dispatcher_ == nullptr) {
    MarkEnded();
    throw std::logic_error("a threaded file search needs a main-thread dispatcher");
  }

  bool begun = false;
  try {
    targetSearch_ = std::make_unique<TTargetSearch>(criteria_);
    begun = true;
    DoSearchBegin();
    if (threadedSearch_) {
      workerRunning_ = true;
      worker_ = std::thread([this] { WorkerBody(); });
      return;
    }
    WalkTargets();
    DoWalkEnd();
  } catch (...) {
    workerRunning_ = false;
    // Once the begin event was raised its handler expects the finish event too.
    if (begun) {
      EndOfSearch();
    } else {
      targetSearch_.reset();
      MarkEnded();
    }
    throw;
  }
  EndOfSearch();
}

void TFindFile::Abort() {
  std::uint64_t search = 0;
  {
    std::unique_lock lock(stateMutex_);
    if (!busy_ || aborted_) return;
    if (finishing_) {
      // The end of search has begun: nothing is left to stop, but the caller on
      // another thread still gets the search ended when this returns.
      if (OnWalkerThread() || (dispatcher_ != nullptr && dispatcher_->IsMainThread())) return;
      const std::uint64_t running = searchNumber_;
      ended_.wait(lock, [&] { return !busy_ || searchNumber_ != running; });
      return;
    }
    aborted_ = true;
    search = searchNumber_;
    ++abortsRunning_;
  }
  const bool onMain = dispatcher_ != nullptr && dispatcher_->IsMainThread();
  {
    AtExit done([&] {
      bool endWaits = false;
      {
        std::lock_guard lock(stateMutex_);
        --abortsRunning_;
        endWaits = finishing_ && abortsRunning_ == 0;
      }
      // The thread-end handler waits on the main thread for this handler: wake it.
      if (endWaits && !onMain) dispatcher_->RunOnMainThread([] {});
    });
    DoSearchAbort();
  }
  if (!workerRunning_ || OnWalkerThread()) return;
  if (onMain) {
    dispatcher_->WaitWithMessages([this] { return !workerRunning_; });
  } else {
    std::unique_lock lock(stateMutex_);
    ended_.wait(lock, [&] { return !busy_ || searchNumber_ != search; });
  }
}

void TFindFile::WaitForSearchEnd() {
  if (!Busy() || OnWalkerThread()) return;
  if (threadedSearch_ && dispatcher_ != nullptr && dispatcher_->IsMainThread()) {
    {
      // Inside the end of search itself (a finish handler) there is nothing to wait for.
      std::lock_guard lock(stateMutex_);
      if (finishing_) return;
    }
    dispatcher_->WaitWithMessages([this] { return !Busy(); });
    return;
  }
  std::unique_lock lock(stateMutex_);
  ended_.wait(lock, [&] { return !busy_; });
}

void TFindFile::WorkerBody() {
  tWalking = this;
  // A failure of the walk ends the worker quietly; the end of search still runs.
  try {
    WalkTargets();
  } catch (...) {
  }
  try {
    DoWalkEnd();
  } catch (...) {
  }
  try {
    dispatcher_->RunOnMainThread([this] { ThreadEnd(); });
  } catch (...) {
  }
  tWalking = nullptr;
}

void TFindFile::ThreadEnd() {
  workerRunning_ = false;
  bool abortRuns = false;
  {
    std::lock_guard lock(stateMutex_);
    finishing_ = true;
    abortRuns = abortsRunning_ > 0;
  }
  // An abort raised on another thread finishes its event before the finish event.
  if (abortRuns) {
    dispatcher_->WaitWithMessages([this] {
      std::lock_guard lock(stateMutex_);
      return abortsRunning_ == 0;
    });
  }
  EndOfSearch();
}

void TFindFile::EndOfSearch() {
  AtExit finish([this] {
    targetSearch_.reset();
    MarkEnded();
  });
  DoSearchFinish();
}

void TFindFile::MarkEnded() {
  {
    std::lock_guard lock(stateMutex_);
    busy_ = false;
  }
  ended_.notify_all();
}

void TFindFile::JoinWorker() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void TFindFile::WalkTargets() {
  for (const auto& target : targetSearch_->TargetFolders) {
    if (aborted_) break;
    currentLevel_ = 0;
    currentTarget_ = target.get();
    WalkFolder(target->Folder);
  }
}

// One frame per level: the subfolders' names of this folder and little else, so deep
// trees stay well within the stack.
void TFindFile::WalkFolder(const std::string& folder) {
  const auto level = static_cast<std::uint16_t>(currentLevel_ + 1);
  currentLevel_ = level;
  AtExit leave([this] { currentLevel_ = static_cast<std::uint16_t>(currentLevel_ - 1); });

  const std::string listed = ListingPath(folder, level);
  // proc, sysfs, devices and the like hold no files of anyone's; some of their
  // entries block or never end when read.
  if (platform::IsVirtualFileSystem(listed)) return;
  const TFolderIgnore ignore = DoFolderChange(folder);
  const TTargetFolder& target = *currentTarget_;

  bool unlisted = false;
  const auto list = [&](const std::string& mask, const std::function<bool(const platform::EntryInfo&)>& visit) {
    errno = 0;
    if (!platform::ListFolder(listed, mask, visit) && !unlisted) {
      unlisted = true;
      DoWalkError(folder);
    }
  };

  if (SearchesFiles(ignore) && level >= target.MinLevel) {
    for (auto mask = target.FileMasks.rbegin(); mask != target.FileMasks.rend() && !aborted_ && !unlisted;
         ++mask) {
      // An error of a handler stops the listing first, so that the platform closes
      // the folder, and then goes on to the caller.
      std::exception_ptr error;
      list(*mask, [&](const platform::EntryInfo& info) {
        if (aborted_) return false;
        // Links, FIFOs, sockets and devices are never opened nor reported.
        if (info.kind != platform::EntryKind::Regular && info.kind != platform::EntryKind::Directory) {
          return true;
        }
        try {
          const TSearchRec rec = MakeSearchRec(info);
          if (AcceptFile(folder, rec)) DoFileMatch(folder, rec);
        } catch (...) {
          error = std::current_exception();
          return false;
        }
        return !aborted_;
      });
      if (error) std::rethrow_exception(error);
    }
  }

  if (!target.Recursive || !Descends(ignore) || (target.MaxLevel != 0 && target.MaxLevel <= level) ||
      aborted_ || unlisted) {
    return;
  }
  // Only real directories are entered: a link to a folder (a loop included) is not.
  // A folder that cannot be listed, or vanished, yields nothing but its error.
  std::vector<std::string> subfolders;
  list("*.*", [&](const platform::EntryInfo& info) {
    if (aborted_) return false;
    if (info.kind == platform::EntryKind::Directory) subfolders.push_back(info.name);
    return true;
  });
  for (const std::string& name : subfolders) {
    if (aborted_) break;
    WalkFolder(folder + name + platform::kPathDelim);
  }
}

void TFindFile::DoSearchBegin() {
  if (OnSearchBegin && !destroying_) OnSearchBegin(*this);
}

void TFindFile::DoSearchFinish() {
  if (OnSearchFinish && !destroying_) OnSearchFinish(*this);
}

void TFindFile::DoWalkEnd() {
  if (OnWalkEnd) OnWalkEnd(*this);
}

void TFindFile::DoSearchAbort() {
  if (OnSearchAbort && !destroying_) OnSearchAbort(*this);
}

void TFindFile::DoWalkError(const std::string& folder) {
  if (!OnWalkError || aborted_) return;
  // The platform's reason where it left one in errno.
  const int code = errno;
  OnWalkError(*this, folder, code != 0 ? std::generic_category().message(code) : "cannot be listed");
}

TFolderIgnore TFindFile::DoFolderChange(const std::string& folder) {
  TFolderIgnore ignore = aborted_ ? TFolderIgnore::fiFilesAndSubfolders : TFolderIgnore::fiNothing;
  if (OnFolderChange && !aborted_) OnFolderChange(*this, folder, ignore);
  return ignore;
}

void TFindFile::DoFileMatch(const std::string& folder, const TSearchRec& fileInfo) {
  if (OnFileMatch && !aborted_) OnFileMatch(*this, folder, fileInfo);
}

bool TFindFile::AcceptFile(const std::string& folder, const TSearchRec& fileInfo) const {
  return targetSearch_->AcceptEntry(folder, fileInfo);
}

}  // namespace korbu
