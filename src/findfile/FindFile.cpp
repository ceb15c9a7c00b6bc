#include "findfile/FindFile.h"

#include <exception>
#include <optional>
#include <stdexcept>
#include <utility>
#include <vector>

#include <filesystem>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/FileSystemPath.h"
#include "platform/FolderHandle.h"
#include "platform/Path.h"

namespace korbu {
namespace {

// The searches this thread is running a part of (begin event, walk, abort event or
// end), innermost first: their handlers call Abort or WaitForSearchEnd without
// waiting for themselves.
struct InsideFrame {
  const TFindFile* search;
  const InsideFrame* outer;
};
thread_local const InsideFrame* tInside = nullptr;

class InsideSearch {
 public:
  explicit InsideSearch(const TFindFile* search) : frame_{search, tInside} { tInside = &frame_; }
  InsideSearch(const InsideSearch&) = delete;
  InsideSearch& operator=(const InsideSearch&) = delete;
  ~InsideSearch() { tInside = frame_.outer; }

 private:
  InsideFrame frame_;
};

bool IsInside(const TFindFile* search) {
  for (const InsideFrame* frame = tInside; frame != nullptr; frame = frame->outer) {
    if (frame->search == search) return true;
  }
  return false;
}

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

// The file system a folder lies on; 0 when it cannot be told.
std::uint64_t DeviceOf(const std::string& folder) {
  const auto held = platform::Folder::Open(folder);
  const auto status = held ? held->OwnStatus() : Expected<platform::FileStatus>(Failure("not opened"));
  return status ? status->device : 0;
}

}  // namespace

TFindFile::TFindFile(MainThreadDispatcher* mainThread) : dispatcher_(mainThread) {}

TFindFile::~TFindFile() {
  destroying_ = true;
  Abort();
  JoinWorker();
}

bool TFindFile::Busy() const {
  std::lock_guard lock(mutex_);
  return phase_ != Phase::Idle;
}

void TFindFile::Start() {
  {
    std::lock_guard lock(mutex_);
    if (phase_ != Phase::Idle) return;
    if (Threaded && dispatcher_ == nullptr) {
      throw std::logic_error("a threaded file search needs a main-thread dispatcher");
    }
    phase_ = Phase::Walking;
    aborted_ = false;
    ++search_;
  }
  // The last worker has handed its end over already; it only has to return.
  JoinWorker();

  bool begun = false;
  try {
    targetSearch_ = std::make_unique<TTargetSearch>(criteria_);
    begun = true;
    InsideSearch inside(this);
    DoSearchBegin();
    if (Threaded) {
      worker_ = std::thread([this] { WorkerBody(); });
      return;
    }
    WalkTargets();
    DoWalkEnd();
  } catch (...) {
    // Once the begin event was raised its handler expects the finish event too.
    if (begun) {
      WalkReturned();
    } else {
      targetSearch_.reset();
      MarkEnded();
    }
    throw;
  }
  WalkReturned();
}

void TFindFile::Abort() {
  std::uint64_t search = 0;
  bool raise = false;
  {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Idle) return;
    search = search_;
    raise = !aborted_ && phase_ != Phase::Ending;
    if (raise) {
      aborted_ = true;
      raisingAbort_ = true;
    }
  }
  if (raise) {
    InsideSearch inside(this);
    try {
      DoSearchAbort();
    } catch (...) {
      AbortRaised();
      throw;
    }
    AbortRaised();
  }
  AwaitEnd(search);
}

void TFindFile::WaitForSearchEnd() {
  std::uint64_t search = 0;
  {
    std::lock_guard lock(mutex_);
    if (phase_ == Phase::Idle) return;
    search = search_;
  }
  AwaitEnd(search);
}

void TFindFile::AwaitEnd(std::uint64_t search) {
  if (IsInside(this)) return;  // it would wait for itself
  const auto ended = [this, search] { return phase_ == Phase::Idle || search_ != search; };
  // Only a threaded search's end comes to the main thread as a hand-over.
  if (dispatcher_ != nullptr && dispatcher_->IsMainThread() && Threaded) {
    dispatcher_->WaitWithMessages([&] {
      std::lock_guard lock(mutex_);
      return ended();
    });
    return;
  }
  std::unique_lock lock(mutex_);
  changed_.wait(lock, ended);
}

void TFindFile::WorkerBody() {
  InsideSearch inside(this);
  // A failure of the walk ends the worker quietly; the end of search still runs.
  try {
    WalkTargets();
  } catch (...) {
  }
  try {
    DoWalkEnd();
  } catch (...) {
  }
  WalkReturned();
}

// The walker's part is done. A threaded search hands its end over now, or leaves
// that to the abort event being raised. A search without a worker ends here, on
// the caller of Start, once that event is done.
void TFindFile::WalkReturned() {
  {
    std::unique_lock lock(mutex_);
    if (!Threaded) {
      changed_.wait(lock, [this] { return !raisingAbort_; });
      phase_ = Phase::Ending;
    } else if (raisingAbort_) {
      phase_ = Phase::WalkOver;
      return;
    } else {
      phase_ = Phase::EndHandedOver;
    }
  }
  if (Threaded) {
    HandOverEnd();
  } else {
    Finish();
  }
}

void TFindFile::AbortRaised() {
  bool handOver = false;
  {
    std::lock_guard lock(mutex_);
    raisingAbort_ = false;
    handOver = phase_ == Phase::WalkOver;
    if (handOver) phase_ = Phase::EndHandedOver;
  }
  changed_.notify_all();
  if (handOver) HandOverEnd();
}

// Threaded only: the end goes to the main thread, once per hand-over.
void TFindFile::HandOverEnd() {
  // Neither a worker nor an aborting thread has anyone to give a finish handler's
  // error to.
  try {
    dispatcher_->RunOnMainThread([this] {
      {
        std::lock_guard lock(mutex_);
        // An abort event is being raised (on another thread, or below on this one
        // with its handler running the hand-overs): it hands the end over again
        // when it is done.
        if (raisingAbort_) {
          phase_ = Phase::WalkOver;
          return;
        }
        phase_ = Phase::Ending;
      }
      Finish();
    });
  } catch (...) {
  }
}

void TFindFile::Finish() {
  InsideSearch inside(this);
  AtExit ended([this] {
    targetSearch_.reset();
    MarkEnded();
  });
  DoSearchFinish();
}

void TFindFile::MarkEnded() {
  {
    std::lock_guard lock(mutex_);
    phase_ = Phase::Idle;
  }
  changed_.notify_all();
}

void TFindFile::JoinWorker() {
  if (worker_.joinable() && worker_.get_id() != std::this_thread::get_id()) worker_.join();
}

void TFindFile::WalkTargets() {
  for (const auto& target : targetSearch_->TargetFolders) {
    if (aborted_) break;
    currentLevel_ = 0;
    currentTarget_ = target.get();
    linkedFolders_ = {platform::IncludeTrailingDelimiter(LinkTarget(target->Folder))};
    targetDevice_ = CrossFileSystems ? 0 : DeviceOf(target->Folder);
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
  const TTargetFolder& target = *currentTarget_;
  // proc, sysfs, devices and the like hold no files of anyone's; some of their
  // entries block or never end when read. A tmpfs mounted in one (/dev/shm) does.
  if (platform::IsVirtualFileSystem(listed)) {
    if (OnFolderSkipped && !aborted_) OnFolderSkipped(*this, folder);
    if (!target.Recursive || (target.MaxLevel != 0 && target.MaxLevel <= level)) return;
    for (const std::string& below : platform::RealMountsBelow(listed)) {
      if (aborted_) break;
      WalkFolder(platform::IncludeTrailingDelimiter(folder) + below + platform::kPathDelim);
    }
    return;
  }
  const TFolderIgnore ignore = DoFolderChange(folder);

  bool unlisted = false;
  // mask null: every name, real folders only.
  const auto list = [&](const std::string* mask, const std::function<bool(const platform::EntryInfo&)>& visit) {
    const Status listedOk = mask == nullptr ? platform::ListSubfolders(listed, visit)
                                            : platform::ListFolder(listed, *mask, visit);
    if (!listedOk && !unlisted) {
      unlisted = true;
      DoWalkError(folder, listedOk.error().reason);
    }
  };

  if (SearchesFiles(ignore) && level >= target.MinLevel) {
    for (auto mask = target.FileMasks.rbegin(); mask != target.FileMasks.rend() && !aborted_ && !unlisted;
         ++mask) {
      // An error of a handler stops the listing first, so that the platform closes
      // the folder, and then goes on to the caller.
      std::exception_ptr error;
      list(&*mask, [&](const platform::EntryInfo& info) {
        if (aborted_) return false;
        try {
          // FIFOs, sockets and devices are never opened nor reported; links only
          // when followed, by what they lead to.
          std::string at = folder;
          std::optional<platform::EntryInfo> linked;
          if (info.kind == platform::EntryKind::Link && FollowFileLinks) {
            const std::string file = LinkTarget(folder + info.name);
            linked = file.empty() ? std::nullopt : platform::GetEntryInfo(file);
            if (!linked || linked->kind != platform::EntryKind::Regular) {
              if (OnEntryPassedOver) OnEntryPassedOver(*this, folder, info.name);
              return true;
            }
            at = platform::ExtractFilePath(file);
          } else if (info.kind != platform::EntryKind::Regular && info.kind != platform::EntryKind::Directory) {
            if (OnEntryPassedOver) OnEntryPassedOver(*this, folder, info.name);
            return true;
          }
          const TSearchRec rec = MakeSearchRec(linked ? *linked : info);
          if (AcceptFile(at, rec)) DoFileMatch(at, rec);
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
  list(nullptr, [&](const platform::EntryInfo& info) {
    if (aborted_) return false;
    if (info.kind == platform::EntryKind::Directory) subfolders.push_back(info.name);
    return true;
  });
  for (const std::string& name : subfolders) {
    if (aborted_) break;
    if (targetDevice_ != 0 && DeviceOf(folder + name) != targetDevice_) continue;
    WalkFolder(folder + name + platform::kPathDelim);
  }
  if (FollowFolderLinks && !aborted_) WalkLinkedFolders(folder, listed);
}

std::string TFindFile::LinkTarget(const std::string& link) {
  std::error_code ec;
  const std::filesystem::path target = std::filesystem::canonical(platform::FileSystemPath(link), ec);
  return ec ? std::string() : platform::ProgramPath(target);
}

void TFindFile::WalkLinkedFolders(const std::string& folder, const std::string& listed) {
  std::vector<std::string> targets;
  (void)platform::ListFolder(listed, "*", [&](const platform::EntryInfo& info) {
    if (aborted_) return false;
    if (info.kind != platform::EntryKind::Link) return true;
    const std::string target = LinkTarget(folder + info.name);
    if (!target.empty() && platform::DirectoryExists(target)) targets.push_back(platform::IncludeTrailingDelimiter(target));
    return true;
  });
  for (const std::string& target : targets) {
    if (aborted_) break;
    // A folder already entered, or one above this one, would walk in a circle.
    const bool above = folder.compare(0, target.size(), target) == 0;
    if (above || !linkedFolders_.insert(target).second) continue;
    if (targetDevice_ != 0 && DeviceOf(target) != targetDevice_) continue;
    WalkFolder(target);
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

void TFindFile::DoWalkError(const std::string& folder, const std::string& reason) {
  if (OnWalkError && !aborted_) OnWalkError(*this, folder, reason);
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
