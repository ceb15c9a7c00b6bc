#include "cli/CliScan.h"

#include <chrono>
#include <iostream>
#include <sstream>

#include "cli/CliActions.h"
#include "cli/CliFrontEnd.h"
#include "cli/CliUndo.h"
#include "cli/CommandLine.h"
#include "cli/PathFilter.h"
#include "cli/PathScan.h"
#include "cli/ScanReport.h"
#include "cli/StopSignal.h"
#include "cli/TextReport.h"
#include "engine/VirusClamAV.h"
#include "findfile/QueuedDispatcher.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "scan/ScanSession.h"
#include "scan/ScanTexts.h"

namespace korbu::cli {
namespace {

int Fail(const std::string& message) {
  std::cerr << "korbu-scan: " << message << "\n";
  return 2;
}

EngineInfo SetUpEngine() {
  CreateVirusEngine();
  EngineLibraryAvailable();
  LoadVirusDatabase();
  return GetEngineInfo();
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
  const auto started = std::chrono::steady_clock::now();
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.error.empty()) return Fail(parsed.error + " (see --help)");
  const CliOptions& options = parsed.options;
  if (options.help) {
    std::cout << UsageText();
    return 0;
  }
  if (options.version) {
    std::cout << "korbu-scan " << KORBU_BUILD_NAME << "\n";
    return 0;
  }
  if (options.history) return PrintHistory(options.json, std::cout);
  if (options.undo) return RunUndo(*options.undo, options.json, std::cout, std::cerr);
  std::string error;
  const std::optional<PathFilter> filter = PathFilter::Compile(options.patterns, error);
  if (!filter) return Fail(error);
  if (options.database) {
    if (!platform::DirectoryExists(*options.database)) {
      return Fail("not a database folder: " + *options.database);
    }
    SetDatabaseFolder(*options.database);
  }

  // The session walks no folder of its own: the PATHs follow, one by one.
  ScanOptions scanOptions = options.scan;
  scanOptions.location.clear();
  CliFrontEnd frontEnd(scanOptions, !options.json && !options.quiet && platform::StderrIsTerminal());
  TextReport report(options.json, options.quiet, [&] { frontEnd.ClearProgress(); });
  if (options.logFile && !report.OpenLog(*options.logFile, error)) {
    return Fail("cannot open the log file " + *options.logFile + ": " + error);
  }
  InstallStopSignals();

  const EngineInfo engine = SetUpEngine();
  // A note on standard error, not one of the scan's errors (nor of its log).
  if (!engine.problem.empty()) std::cerr << "korbu-scan: engine not loaded: " << engine.problem << "\n";
  std::ostringstream engineText;
  PrintEngineText(engineText, engine);
  report.Info(engineText.str());

  ScanTotals totals;
  QueuedDispatcher dispatcher;
  DetectionList& rows = frontEnd.Detections();
  // Detections are shown as they are found.
  rows.SetChangeHandler([&](std::size_t index) {
    if (index != DetectionList::npos && index + 1 == rows.Count() && !rows.Row(index).checked) {
      report.Detection(DetectionLine(rows.Row(index)));
    }
  });
  {
    ScanSession session(frontEnd, dispatcher);
    session.SetVerdictWorkers(options.jobs);
    PathScan paths(session, dispatcher, rows, options, *filter, [&](const ScanError& e) {
      totals.errors.push_back(e);
      report.Error(ErrorLine(e));
    });
    frontEnd.OnFileError = [&](const std::string& path, const std::string& reason) {
      totals.errors.push_back(ScanError{path, reason});
      report.Error(ErrorLine(totals.errors.back()));
    };
    frontEnd.FilesSoFar = [&] { return static_cast<long long>(paths.FilesSoFar()); };
    StopWatcher watcher([&] {
      session.StopPhases();
      session.Abort();
    });
    session.RunScan(ScanSession::Phases{options.memory, options.registry});
    session.WaitForEnd();
    for (const std::string& path : options.paths) {
      if (StopRequested()) break;
      paths.Scan(path);
    }
    totals.filesScanned = paths.FilesScanned();
    totals.foldersScanned = paths.FoldersScanned();
    totals.bytesRead = paths.BytesRead();
    totals.interrupted = StopRequested();
  }
  rows.SetChangeHandler(nullptr);
  frontEnd.ClearProgress();

  // A stopped scan changes nothing.
  std::vector<std::string> reasons;
  if (!totals.interrupted && options.action != Action::None) {
    std::ostringstream actionText;
    reasons = RunRowAction(options.action, options.dryRun, rows, actionText);
    report.Action(actionText.str());
  }

  totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  if (totals.interrupted) report.Info(kScanStoppedText);
  report.Info(SummaryLine(totals.filesScanned, totals.foldersScanned));
  if (!options.noSummary) report.Info(SummaryBlock(rows.Count(), totals));
  if (options.json) std::cout << JsonReport(engine, rows, totals, ActionName(options.action), reasons);
  std::cout.flush();
  if (!report.Written()) return Fail("cannot write the report");
  if (rows.Count() > 0) return 1;
  return totals.errors.empty() ? 0 : 2;
}

}  // namespace korbu::cli
