#pragma once
// One scan, end to end, for either front end: the options applied, the memory and
// registry phases on the main thread, then the file walk on a worker whose reports
// become verdicts and rows, handed to the main thread in order.

#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "dispatch/MainThreadDispatcher.h"
#include "engine/ClamAV.h"
#include "engine/ClamdScanner.h"
#include "findfile/FindFile.h"
#include "platform/WindowsSystem.h"
#include "scan/OrderedVerdicts.h"
#include "scan/ScanContext.h"
#include "scan/ScanFrontEnd.h"

namespace korbu {

/// Files larger than this are never reported by the walk (100 KiB, inclusive).
inline constexpr std::uint32_t kWalkSizeLimit = 102400;
inline constexpr const char* kAllFilesMask = "*.*";
inline constexpr const char* kProgramFilesMask = "*.exe;*.scr;*.pif;*.com";
/// The engine's option word for every scan; the archive bit is added on request.
inline constexpr std::uint16_t kScanOptionsWord = 878;
inline constexpr std::uint16_t kArchiveScanBit = 1;

class ScanSession {
 public:
  /// Which phases a scan runs; the desktop program always runs all three.
  struct Phases {
    bool memory = true;
    bool registry = true;
  };

  /// The front end and the dispatcher outlive the session, and so does the
  /// engine, which may be null (the own detection then judges alone).
  ScanSession(ScanFrontEnd& frontEnd, MainThreadDispatcher& dispatcher, TClamAV* engine);
  /// Stops a walk still running, so that nothing runs after the front end is gone.
  ~ScanSession();
  ScanSession(const ScanSession&) = delete;
  ScanSession& operator=(const ScanSession&) = delete;

  /// Applies the options, runs the memory and registry phases, starts the walk and
  /// returns as soon as it runs. Main thread.
  void RunScan(const Phases& phases);
  void RunScan() { RunScan(Phases{}); }

  /// Writes the options and the location into the walk's criteria, the heuristic
  /// flag and the engine's option word.
  void ApplyScanOptions();

  /// Starts the walk; a failure to start ends the search, never the program.
  void StartFileSearch();

  /// True while the walk runs (until its end has been shown).
  bool Busy() const { return findFile_.Busy(); }
  /// Stops the walk; returns once it has ended, its end shown.
  void Abort() { findFile_.Abort(); }
  /// Ends the memory and registry phases early, a Wine start under way included;
  /// safe from any thread. The command line's stop signal does this; the
  /// window's Stop leaves the phases to run through.
  void StopPhases() { phasesStop_.store(true); }
  /// Returns when the walk has ended, running the hand-overs meanwhile.
  void WaitForEnd() { findFile_.WaitForSearchEnd(); }

  /// The engine the next scans use, once start-up has made it. Set between scans.
  void SetEngine(TClamAV* engine) { engine_ = engine; }
  /// A clamd that judges in place of the engine (null, the default, for none);
  /// it outlives the session. Set between scans.
  void SetRemoteEngine(ClamdScanner* remote) { remote_ = remote; }

  /// Workers that judge the walk's files; 0 (the default) means one per core, 1
  /// judges each file on the walker as it is reported. Rows come in walk order
  /// either way. Set between scans.
  void SetVerdictWorkers(unsigned workers) { verdictWorkers_ = workers; }
  /// The number a scan started now would use.
  unsigned VerdictWorkers() const;

  /// Judges one file outside the walk as the walk judges its files: its row, its
  /// error and a verdict not judged whole reach the front end. Main thread, after
  /// RunScan, or a front end's worker of the first phases (the row is handed over).
  void ScanOneFile(const std::string& path);
  /// The same for a file already open, reported under name.
  void ScanOneFile(platform::OpenedFile& file, const std::string& name);

  /// Runs what on the walker in its place among the walk's verdicts, so that it
  /// keeps the walk's order whatever the number of workers. Walker only.
  void InWalkOrder(const std::function<void()>& what);

  /// The verdict cache the scans use (null, the default, for none); it outlives
  /// the session. Set between scans.
  void SetVerdictCache(cache::VerdictCache* cache) { cache_ = cache; }
  /// Why the current (or last) scan judges every file although a cache is set;
  /// empty when it uses the cache.
  const std::string& CacheProblem() const { return cacheProblem_; }

  /// The Windows system the scans look after (the registry phase reads it, the
  /// rows' actions repair it); null, the default, for the one the program runs
  /// with, opened afresh for each scan. Set between scans.
  void SetWindowsSystem(std::shared_ptr<platform::WindowsSystem> system) { chosenSystem_ = std::move(system); }
  /// The system of the current (or last) scan, set with its options; null before.
  const std::shared_ptr<platform::WindowsSystem>& System() const { return system_; }
  /// The engine and heuristic option of the current (or last) scan.
  const ScanContext& Context() const { return context_; }

  std::int32_t FilesScanned() const { return filesScanned_.load(); }
  std::int32_t FoldersScanned() const { return foldersScanned_.load(); }
  /// Of the walks' files and the ones judged alone since the session was made:
  /// the bytes their verdicts read, and how many could not be opened. Never
  /// reset, so that a caller takes the difference around what it runs.
  std::uint64_t BytesRead() const { return bytesRead_.load(); }
  std::int64_t FilesNotOpened() const { return notOpened_.load(); }

  /// Front-end hooks, run on the main thread: the walk began (the list is then
  /// closed to the user), ended (after the summary line), was stopped.
  std::function<void()> OnWalkBegin;
  std::function<void()> OnWalkFinish;
  std::function<void()> OnWalkAbort;

  /// The walk's component, for tests and for the front end's Busy checks.
  TFindFile& FindFile() { return findFile_; }

 private:
  void FileMatch(const std::string& folder, const TSearchRec& fileInfo);
  void SearchBegin();
  void SearchFinish();
  void AddRow(const FileVerdictResult& result);

  ScanFrontEnd& frontEnd_;
  MainThreadDispatcher& dispatcher_;
  // Declared before the walk's component, which is destroyed first and may still
  // run the walker's handlers while it stops.
  std::atomic<bool> closing_{false};
  std::atomic<bool> phasesStop_{false};
  std::atomic<std::int32_t> filesScanned_{0};
  std::atomic<std::int32_t> foldersScanned_{0};
  std::atomic<std::uint64_t> bytesRead_{0};
  std::atomic<std::int64_t> notOpened_{0};
  // The worker hands the current-file label over at most this often, so that a
  // fast walk does not flood the window's event loop.
  std::chrono::steady_clock::time_point lastLabel_{};
  TClamAV* engine_;
  ClamdScanner* remote_ = nullptr;
  ScanContext context_;
  std::shared_ptr<platform::WindowsSystem> chosenSystem_;
  std::shared_ptr<platform::WindowsSystem> system_;
  cache::VerdictCache* cache_ = nullptr;
  std::string cacheProblem_;
  unsigned verdictWorkers_ = 0;
  // Made on the main thread before the walker starts and released there after it
  // ended; destroyed after the walk's component, whose walker may still use it.
  std::unique_ptr<OrderedVerdicts> verdicts_;
  TFindFile findFile_;
};

}  // namespace korbu
