#include "scan/ScanSession.h"

#include <exception>

#include "engine/VirusClamAV.h"
#include "scan/FileVerdict.h"
#include "scan/MemoryScan.h"
#include "scan/RegistryScan.h"
#include "scan/ScanState.h"
#include "scan/ScanTexts.h"

namespace korbu {
namespace {
constexpr auto kLabelInterval = std::chrono::milliseconds(40);
}

ScanSession::ScanSession(ScanFrontEnd& frontEnd, MainThreadDispatcher& dispatcher)
    : frontEnd_(frontEnd), dispatcher_(dispatcher), findFile_(&dispatcher) {
  findFile_.Threaded = true;
  findFile_.OnSearchBegin = [this](TFindFile&) { SearchBegin(); };
  findFile_.OnFolderChange = [this](TFindFile&, const std::string&, TFolderIgnore&) {
    foldersScanned_.fetch_add(1, std::memory_order_relaxed);
  };
  findFile_.OnFileMatch = [this](TFindFile&, const std::string& folder, const TSearchRec& rec) {
    FileMatch(folder, rec);
  };
  findFile_.OnSearchFinish = [this](TFindFile&) { SearchFinish(); };
  findFile_.OnSearchAbort = [this](TFindFile&) {
    if (OnWalkAbort) OnWalkAbort();
  };
}

ScanSession::~ScanSession() {
  // The component's destructor then stops a running walk with its events
  // suppressed; hand-overs still in flight must not reach a front end that may
  // already be half gone.
  closing_ = true;
}

void ScanSession::RunScan(const Phases& phases) {
  frontEnd_.ProcessPendingMessages();
  ApplyScanOptions();
  if (phases.memory) ScanMemory(frontEnd_);
  if (phases.registry) ScanRegistry(frontEnd_);
  StartFileSearch();
}

void ScanSession::ApplyScanOptions() {
  const ScanOptions options = frontEnd_.ReadOptions();
  TSearchCriteria& criteria = findFile_.Criteria();
  criteria.Files.Subfolders = options.subfolders;
  criteria.Files.FileName = options.allFiles ? kAllFilesMask : kProgramFilesMask;
  HeuristicEnabled = options.heuristic;
  criteria.Files.Location = options.location;
  criteria.Size.Min = 0;
  criteria.Size.Max = kWalkSizeLimit;
  ScanEngine = VirusEngine.get();
  if (VirusEngine) {
    VirusEngine->SetScanOptions(
        static_cast<std::uint16_t>(kScanOptionsWord | (options.archive ? kArchiveScanBit : 0)));
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
  if (OnWalkBegin) OnWalkBegin();
}

void ScanSession::FileMatch(const std::string& folder, const TSearchRec& fileInfo) {
  filesScanned_.fetch_add(1, std::memory_order_relaxed);
  try {
    const std::string path = folder + fileInfo.Name;
    const auto now = std::chrono::steady_clock::now();
    if (now - lastLabel_ >= kLabelInterval) {
      lastLabel_ = now;
      dispatcher_.RunOnMainThread([&] {
        if (!closing_) frontEnd_.ShowObject(path);
      });
    }
    std::string verdict;
    std::string error;
    const bool detected = ScanFile(path, verdict, &error);
    if (!error.empty()) {
      dispatcher_.RunOnMainThread([&] {
        if (!closing_) frontEnd_.ShowFileError(path, error);
      });
    }
    if (detected) {
      dispatcher_.RunOnMainThread([&] {
        if (closing_) return;
        DetectionList& list = frontEnd_.Detections();
        if (!list.IsDetected(path)) list.AddDetection(path, verdict, std::string());
      });
    }
  } catch (const std::exception&) {
    // A file whose verdict fails gets no row; the walk goes on.
  }
}

void ScanSession::SearchFinish() {
  frontEnd_.ShowOperation(SummaryLine(filesScanned_.load(), foldersScanned_.load()));
  frontEnd_.ShowObject(std::string());
  if (OnWalkFinish) OnWalkFinish();
}

}  // namespace korbu
