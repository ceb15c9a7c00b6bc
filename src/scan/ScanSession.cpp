#include "scan/ScanSession.h"

#include <exception>
#include <thread>

#include "cache/VerdictCache.h"
#include "platform/SystemFactory.h"
#include "scan/FileVerdict.h"
#include "scan/MemoryScan.h"
#include "scan/RegistryScan.h"
#include "scan/ScanTexts.h"

namespace korbu {
namespace {
constexpr auto kLabelInterval = std::chrono::milliseconds(40);
}

ScanSession::ScanSession(ScanFrontEnd& frontEnd, MainThreadDispatcher& dispatcher, TClamAV* engine)
    : frontEnd_(frontEnd), dispatcher_(dispatcher), engine_(engine), findFile_(&dispatcher) {
  findFile_.Threaded = true;
  findFile_.OnSearchBegin = [this](TFindFile&) { SearchBegin(); };
  findFile_.OnFolderChange = [this](TFindFile&, const std::string&, TFolderIgnore&) {
    foldersScanned_.fetch_add(1, std::memory_order_relaxed);
  };
  findFile_.OnFileMatch = [this](TFindFile&, const std::string& folder, const TSearchRec& rec) {
    FileMatch(folder, rec);
  };
  findFile_.OnWalkEnd = [this](TFindFile&) {
    if (verdicts_) verdicts_->Finish([this](const FileVerdictResult& result) { AddRow(result); });
  };
  findFile_.OnSearchFinish = [this](TFindFile&) { SearchFinish(); };
  findFile_.OnSearchAbort = [this](TFindFile&) {
    // No verdict starts after a stop; those running still get their rows.
    if (verdicts_) verdicts_->Stop();
    if (OnWalkAbort) OnWalkAbort();
  };
}

ScanSession::~ScanSession() {
  // The component's destructor then stops a running walk with its events
  // suppressed; hand-overs still in flight must not reach a front end that may
  // already be half gone.
  closing_ = true;
  if (verdicts_) verdicts_->Stop();
}

unsigned ScanSession::VerdictWorkers() const {
  if (verdictWorkers_ != 0) return verdictWorkers_;
  const unsigned cores = std::thread::hardware_concurrency();
  return cores == 0 ? 1 : cores;
}

void ScanSession::RunScan(const Phases& phases) {
  frontEnd_.ProcessPendingMessages();
  ApplyScanOptions();
  if (phases.memory && !phasesStop_) ScanMemory(frontEnd_, context_);
  if (phases.registry && !phasesStop_) ScanRegistry(frontEnd_, context_, *system_);
  StartFileSearch();
}

void ScanSession::ApplyScanOptions() {
  const ScanOptions options = frontEnd_.ReadOptions();
  TSearchCriteria& criteria = findFile_.Criteria();
  criteria.Files.Subfolders = options.subfolders;
  criteria.Files.FileName = options.allFiles ? kAllFilesMask : kProgramFilesMask;
  context_.heuristic = options.heuristic;
  criteria.Files.Location = options.location;
  criteria.Size.Min = 0;
  criteria.Size.Max = kWalkSizeLimit;
  context_.engine = remote_ != nullptr ? static_cast<EngineScanner*>(remote_) : engine_;
  context_.stop = &phasesStop_;
  system_ = chosenSystem_ ? chosenSystem_ : platform::DefaultWindowsSystem();
  if (engine_ != nullptr && remote_ == nullptr) {
    const unsigned word = (kScanOptionsWord | (options.archive ? kArchiveScanBit : 0u) | options.engineBitsAdded) &
                          ~unsigned{options.engineBitsRemoved};
    engine_->SetScanOptions(static_cast<std::uint16_t>(word));
  }
  // The cache learns the settings last, once the engine's option word is set.
  context_.cache = nullptr;
  cacheProblem_.clear();
  if (cache_ != nullptr) {
    cache::VerdictSettings settings{remote_ != nullptr ? nullptr : engine_, options.heuristic, std::nullopt};
    if (remote_ != nullptr) {
      // Asked anew: a clamd that loaded other databases since keys other verdicts.
      const Expected<ClamdVersion> version = remote_->QueryVersion();
      settings.engineServer = version ? version->line : std::string();
    }
    const Status ready = cache_->BeginScan(settings);
    if (ready) {
      context_.cache = cache_;
    } else {
      cacheProblem_ = ready.error().reason;
    }
  }
}

void ScanSession::StartFileSearch() {
  try {
    findFile_.Start();
  } catch (const std::exception&) {
    findFile_.Abort();
  }
}

void ScanSession::SearchBegin() {
  frontEnd_.ShowOperation(kScanningFilesText);
  foldersScanned_ = 0;
  filesScanned_ = 0;
  lastLabel_ = {};
  const unsigned workers = VerdictWorkers();
  verdicts_ = workers > 1 ? std::make_unique<OrderedVerdicts>(workers, context_) : nullptr;
  if (OnWalkBegin) OnWalkBegin();
}

void ScanSession::FileMatch(const std::string& folder, const TSearchRec& fileInfo) {
  filesScanned_.fetch_add(1, std::memory_order_relaxed);
  try {
    std::string path = folder + fileInfo.Name;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLabel_ >= kLabelInterval) {
      lastLabel_ = now;
      dispatcher_.RunOnMainThread([&] {
        if (!closing_) frontEnd_.ShowObject(path);
      });
    }
    const auto addRow = [this](const FileVerdictResult& result) { AddRow(result); };
    if (verdicts_) {
      verdicts_->Submit(std::move(path), addRow);
      return;
    }
    AddRow(JudgeFile(std::move(path), context_));
  } catch (const std::exception&) {
    // A file whose verdict fails gets no row; the walk goes on.
  }
}

void ScanSession::InWalkOrder(const std::function<void()>& what) {
  if (!verdicts_) {
    what();
    return;
  }
  verdicts_->SubmitNote(what, [this](const FileVerdictResult& result) { AddRow(result); });
}

void ScanSession::ScanOneFile(const std::string& path) { AddRow(JudgeFile(path, context_)); }

void ScanSession::ScanOneFile(platform::OpenedFile& file, const std::string& name) {
  AddRow(JudgeOpenedFile(file, name, context_));
}

// On the walker: the row is handed to the main thread, where the list lives.
void ScanSession::AddRow(const FileVerdictResult& result) {
  bytesRead_.fetch_add(result.bytesRead, std::memory_order_relaxed);
  if (result.notOpened) notOpened_.fetch_add(1, std::memory_order_relaxed);
  if (result.verdict.empty() && result.error.empty() && !result.notWhole) return;
  dispatcher_.RunOnMainThread([&] {
    if (closing_) return;
    if (!result.error.empty()) frontEnd_.ShowFileError(result.path, result.error);
    if (result.verdict.empty()) {
      if (result.notWhole) frontEnd_.ShowNotJudgedWhole(result.path, *result.notWhole);
      return;
    }
    DetectionList& list = frontEnd_.Detections();
    if (!list.IsDetected(result.path)) list.AddDetection(result.path, result.verdict);
  });
}

void ScanSession::SearchFinish() {
  verdicts_.reset();
  frontEnd_.ShowOperation(SummaryLine(filesScanned_.load(), foldersScanned_.load()));
  frontEnd_.ShowObject(std::string());
  if (OnWalkFinish) OnWalkFinish();
}

}  // namespace korbu
