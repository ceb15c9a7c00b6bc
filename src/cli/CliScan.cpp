#include "cli/CliScan.h"

#include <chrono>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>

#include "cache/VerdictCache.h"
#include "cli/CliActions.h"
#include "cli/CliFrontEnd.h"
#include "cli/CliTransfer.h"
#include "cli/CliUndo.h"
#include "cli/CommandLine.h"
#include "cli/DisplayText.h"
#include "cli/EngineWarnings.h"
#include "cli/FileList.h"
#include "cli/PathFilter.h"
#include "cli/PathScan.h"
#include "cli/ScanReport.h"
#include "cli/StopSignal.h"
#include "cli/TextReport.h"
#include "cli/VersionText.h"
#include "dispatch/QueuedDispatcher.h"
#include "engine/EngineStartup.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/TemporaryFolder.h"
#include "platform/Path.h"
#include "platform/SystemFactory.h"
#include "scan/ScanSession.h"
#include "scan/ScanTexts.h"

namespace korbu::cli {
namespace {

int Fail(const std::string& message) {
  std::cerr << "korbu-scan: " << ReadableFileName(message) << "\n";
  return 2;
}

// The exit status of a command whose whole output is written by now: 2 when it
// could not be.
int Written(int status) {
  std::cout.flush();
  if (!std::cout) return Fail("cannot write the output");
  return status;
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
  const auto started = std::chrono::steady_clock::now();
  const auto startedAt = std::chrono::system_clock::now();
  ParseResult parsed = ParseCommandLine(args);
  if (!parsed.error.empty()) return Fail(parsed.error + " (see --help)");
  const CliOptions& options = parsed.options;
  if (options.help) {
    std::cout << UsageText();
    return Written(0);
  }
  if (options.version) {
    std::cout << VersionText(options.databases);
    return Written(0);
  }
  if (options.history) {
    return Written(PrintHistory(options.json, std::cout, std::cerr, options.historyId.value_or(std::string())));
  }
  if (options.undo) return Written(RunUndo(*options.undo, options.json, std::cout, std::cerr));
  std::string error;
  const Expected<PathFilter> filter = PathFilter::Compile(options.patterns);
  if (!filter) return Fail(filter.error().reason);
  for (const std::string& database : options.databases) {
    if (!platform::DirectoryExists(database) && !platform::FileExists(database)) {
      return Fail("no database folder or file: " + database);
    }
  }
  // The engine unpacks the scanned files' contents there.
  const Expected<std::string> tempFolder = platform::TemporaryFolder(options.tempDir.value_or(std::string()));
  if (!tempFolder) return Fail(tempFolder.error().reason);
  // Files of the scan are written there, as root too: held from now on, and
  // refused, as the temporary folder is, where another user could swap them.
  std::optional<platform::Folder> target;
  if (options.targetFolder) {
    const std::string dir = platform::FullPath(*options.targetFolder);
    Expected<platform::Folder> held = platform::Folder::Open(dir);
    if (!held) return Fail("cannot use " + dir + " for --" + ActionName(options.action) + ": " + held.error().reason);
    if (const Status trusted = platform::CheckTrustedFolder(dir); !trusted) {
      return Fail("cannot use " + dir + " for --" + ActionName(options.action) + ": " + trusted.error().reason);
    }
    target = std::move(*held);
  }

  // Rescue mode: the Windows system of the scan and the repair is the
  // installation on the mounted volume, for the whole command.
  std::shared_ptr<platform::WindowsSystem> system;
  std::vector<std::string> pathsToScan = options.paths;
  if (options.fileList) {
    Expected<std::vector<std::string>> listed = ReadFileList(*options.fileList);
    if (!listed) return Fail("cannot read the file list " + listed.error().reason);
    pathsToScan.insert(pathsToScan.end(), listed->begin(), listed->end());
  }
  if (options.windows) {
    const std::string root = platform::FullPath(*options.windows);
    system = platform::OpenOrUnreachable(platform::WindowsSystemRef::Volume(root));
    if (const Status found = system->Found(); !found) {
      return Fail("no Windows installation at " + root + ": " + found.error().reason);
    }
    if (pathsToScan.empty()) pathsToScan = system->UserFolders();
    // Said at once, before a scan, a dry run or a clean: the scan goes on all
    // the same, and the user knows before the changes are asked for that they
    // would be refused.
    for (const std::string& note : system->Notes()) {
      std::cerr << "korbu-scan: " << ReadableFileName(note) << "\n";
    }
    if (const Status writable = system->Writable(); !writable) {
      const bool acting = options.action != Action::None && !options.dryRun;
      std::cerr << "korbu-scan: "
                << ReadableFileName((acting ? "nothing will be changed: " : "--clean and --delete will change nothing: ") +
                                    writable.error().reason)
                << "\n";
    }
  } else {
    system = platform::DefaultWindowsSystem();
  }

  // The session walks no folder of its own: the PATHs follow, one by one.
  ScanOptions scanOptions = options.scan;
  scanOptions.location.clear();
  CliFrontEnd frontEnd(scanOptions, !options.json && !options.quiet && platform::StderrIsTerminal());
  TextReport report(options.json, options.quiet, [&] { frontEnd.ClearProgress(); });
  if (options.toStdout) report.ErrorsToOutput();
  if (options.logFile && !report.OpenLog(*options.logFile, error)) {
    return Fail("cannot open the log file " + *options.logFile + ": " + error);
  }
  InstallStopSignals();

  const std::unique_ptr<EngineStartup> startup =
      options.clamd ? MakeClamdStartup(*options.clamd)
                    : MakeEngineStartupWith(options.databases, options.tempDir ? *tempFolder : std::string());
  const EngineInfo engine = StartEngine(*startup, options.engine);
  // Before the scan begins: the verdict cache keys its verdicts on the limits too.
  if (TClamAV* clam = startup->Engine(); clam != nullptr) {
    if (options.maxFiles) clam->Limits().maxfiles = *options.maxFiles;
    if (options.maxRecursion) clam->Limits().maxreclevel = *options.maxRecursion;
    // clamscan's formats besides the desktop program's: korbu-scan widens the engine.
    if (!clam->SetWidening({options.engineParse, options.maxScanSize})) {
      return Fail("the engine cannot take --max-scansize or the formats asked for: " + clam->LoadError());
    }
  }
  std::ostringstream engineText;
  PrintEngineText(engineText, engine);
  if (!options.noSummary) report.Info(engineText.str());
  // Databases the user named must load: a scan without them would pass for one with them.
  if (!options.databases.empty() && options.engine && !engine.loaded) {
    std::string named;
    for (const std::string& database : options.databases) named += (named.empty() ? "" : ", ") + database;
    return Fail("the databases of " + named + " did not load: " + engine.loaded.Reason());
  }
  // So is the clamd the user named: without it every file would be an error.
  if (options.clamd && !engine.loaded) return Fail("clamd did not answer: " + engine.loaded.Reason());
  if (options.clamd && options.maxScanSize != 0) {
    std::cerr << "korbu-scan: --max-scansize does not reach clamd: its MaxScanSize setting decides\n";
  }
  if (options.clamd && !options.scan.archive) {
    std::cerr << "korbu-scan: --no-archive does not reach clamd: its ScanArchive setting decides\n";
  }
  // Otherwise a note on standard error, not one of the scan's errors (nor of its log),
  // and a warning in the summary.
  if (!engine.loaded) std::cerr << "korbu-scan: engine not loaded: " << engine.loaded.Reason() << "\n";
  ScanTotals totals;
  totals.warnings = EngineWarnings(engine, options.engine,
                                   std::chrono::floor<std::chrono::days>(std::chrono::system_clock::now()));
  // A plain Linux machine scanning a stick has no Windows registry, which is no error.
  if (options.registry && !options.windows) {
    if (const Status found = system->Found(); !found) {
      std::cerr << "korbu-scan: no registry to scan: " << ReadableFileName(found.error().reason) << "\n";
    }
    for (const std::string& note : system->Notes()) {
      std::cerr << "korbu-scan: " << ReadableFileName(note) << "\n";
    }
  }
  std::unique_ptr<cache::VerdictCache> verdicts;
  if (options.cache) {
    Expected<std::unique_ptr<cache::VerdictCache>> opened = cache::VerdictCache::OpenForUser();
    if (opened) {
      verdicts = std::move(*opened);
    } else {
      std::cerr << "korbu-scan: verdict cache not used: " << opened.error().reason << "\n";
    }
  }

  QueuedDispatcher dispatcher;
  DetectionList& rows = frontEnd.Detections();
  // Detections are shown as they are found.
  rows.SetChangeHandler([&](std::size_t index) {
    if (index != DetectionList::npos && index + 1 == rows.Count() && !rows.Row(index).checked) {
      report.Detection(DetectionLine(rows.Row(index)));
    }
  });
  {
    ScanSession session(frontEnd, dispatcher, startup->Engine());
    session.SetRemoteEngine(startup->RemoteEngine());
    session.SetVerdictWorkers(options.jobs);
    session.SetVerdictCache(verdicts.get());
    session.SetWindowsSystem(system);
    PathScan paths(session, dispatcher, options, *filter, [&](const ScanError& e) {
      totals.errors.push_back(e);
      report.Error(ErrorLine(e));
    });
    frontEnd.OnFileError = [&](const std::string& path, const std::string& reason) {
      totals.errors.push_back(ScanError{path, reason});
      report.Error(ErrorLine(totals.errors.back()));
    };
    // Run as root, the memory phase meets every user's programs; what goes wrong
    // with another's is hers to mend and does not fail the caller's scan.
    frontEnd.OnOtherUsersProgramError = [&](const std::string& path, const std::string& reason) {
      totals.otherUsersPrograms.push_back(ScanError{path, reason});
      if (options.verbose) report.Detection(OtherUsersProgramLine(totals.otherUsersPrograms.back()));
    };
    // The phases' programs (a browser, an office suite) are past the engine's
    // limit more often than not: counted, and listed when asked for.
    bool inPaths = false;
    frontEnd.OnNotJudgedWhole = [&](const std::string& path, const EngineLimitReached& limit) {
      const NotScannedWhole file{path, limit};
      if (inPaths) {
        totals.notWhole.push_back(file);
      } else {
        ++totals.programsNotWhole;
        if (!options.verbose) return;
      }
      report.Detection(NotWholeLine(file));
    };
    frontEnd.FilesSoFar = [&] { return static_cast<long long>(paths.FilesSoFar()); };
    StopWatcher watcher([&] {
      session.StopPhases();
      session.Abort();
    });
    session.RunScan(ScanSession::Phases{options.memory, options.registry});
    if (!session.CacheProblem().empty()) {
      std::cerr << "korbu-scan: verdict cache not used: " << session.CacheProblem() << "\n";
    }
    session.WaitForEnd();
    // The cache's figures of the PATHs alone: the memory phase judges running
    // programs, no file named or walked.
    const cache::VerdictCache* cache = session.Context().cache;
    const long long phasesFromCache = cache != nullptr ? cache->FromCache() : 0;
    const long long phasesRechecked = cache != nullptr ? cache->Rechecked() : 0;
    inPaths = true;
    for (const std::string& path : pathsToScan) {
      if (StopRequested()) break;
      paths.Scan(path);
    }
    totals.filesScanned = paths.FilesScanned();
    totals.foldersScanned = paths.FoldersScanned();
    totals.bytesRead = paths.BytesRead();
    totals.skippedOverLimit = paths.SkippedOverLimit();
    totals.skippedExcluded = paths.SkippedExcluded();
    totals.skippedPseudo = paths.SkippedPseudo();
    totals.skippedUnreadable = paths.SkippedUnreadable();
    totals.interrupted = StopRequested();
    if (cache != nullptr) {
      totals.cacheUsed = true;
      totals.fromCache = cache->FromCache() - phasesFromCache;
      totals.rechecked = cache->Rechecked() - phasesRechecked;
      totals.notCacheable = cache->NotCacheable();
    }
  }
  rows.SetChangeHandler(nullptr);
  frontEnd.ClearProgress();

  // A stopped scan changes nothing.
  ActionOutcome outcome;
  if (!totals.interrupted && options.action != Action::None) {
    std::ostringstream actionText;
    std::vector<ScanError> notHandled;
    const auto onError = [&](const ScanError& e) { notHandled.push_back(e); };
    outcome = target ? TransferRows(options.action == Action::Move, *target, options.dryRun, rows, actionText, onError)
                     : RunRowAction(options.action, options.dryRun, system, rows, actionText, onError);
    report.Action(actionText.str());
    for (const ScanError& e : notHandled) {
      totals.errors.push_back(e);
      report.Error(ErrorLine(e));
    }
  }

  totals.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  totals.startDate = ScanDateText(startedAt);
  totals.endDate = ScanDateText(std::chrono::system_clock::now());
  if (!options.noSummary) {
    // A stopped scan is not also "finished".
    report.Info(totals.interrupted ? std::string(kScanStoppedText) + "\n" + std::to_string(totals.filesScanned) +
                                         " file(s) and " + std::to_string(totals.foldersScanned) +
                                         " Folder(s) scanned before the stop."
                                   : SummaryLine(totals.filesScanned, totals.foldersScanned));
    report.Info(SummaryBlock(rows.Count(), totals));
  }
  if (options.json) std::cout << JsonReport(engine, rows, totals, ActionName(options.action), outcome.reasons, outcome.changes,
                                          outcome.actionId);
  std::cout.flush();
  if (!report.Written()) return Fail("cannot write the report");
  if (rows.Count() > 0) return 1;
  return totals.errors.empty() ? 0 : 2;
}

}  // namespace korbu::cli
