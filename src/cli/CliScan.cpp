#include "cli/CliScan.h"

#include <iostream>

#include "cli/CliActions.h"
#include "cli/CliFrontEnd.h"
#include "cli/CommandLine.h"
#include "cli/ScanReport.h"
#include "engine/VirusClamAV.h"
#include "findfile/QueuedDispatcher.h"
#include "platform/Console.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "scan/ScanSession.h"

namespace korbu::cli {
namespace {

int Fail(const std::string& message) {
  std::cerr << "korbu-scan: " << message << "\n";
  return 2;
}

// A folder that cannot be listed would make the walk silently find nothing.
bool CanList(const std::string& folder) {
  return platform::ListFolder(folder, "*", [](const platform::EntryInfo&) { return false; });
}

EngineInfo SetUpEngine() {
  CreateVirusEngine();
  EngineLibraryAvailable();
  LoadVirusDatabase();
  return GetEngineInfo();
}

}  // namespace

int RunCli(const std::vector<std::string>& args) {
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
  const std::string& folder = options.scan.location;
  if (!folder.empty()) {
    // A relative folder needs a current folder to be found in.
    if (platform::FullPath(folder).empty()) return Fail("the current folder has been removed: " + folder);
    if (!platform::DirectoryExists(folder)) return Fail("not a folder: " + folder);
    if (!CanList(folder)) return Fail("cannot read folder: " + folder);
  }
  if (options.database) {
    if (!platform::DirectoryExists(*options.database)) {
      return Fail("not a database folder: " + *options.database);
    }
    SetDatabaseFolder(*options.database);
  }

  const EngineInfo engine = SetUpEngine();
  if (!engine.problem.empty()) std::cerr << "korbu-scan: engine not loaded: " << engine.problem << "\n";
  if (!options.json) PrintEngineText(std::cout, engine);

  QueuedDispatcher dispatcher;
  CliFrontEnd frontEnd(options.scan, !options.json && platform::StderrIsTerminal());
  DetectionList& rows = frontEnd.Detections();
  if (!options.json) {
    // Detections are shown as they are found.
    rows.SetChangeHandler([&](std::size_t index) {
      if (index != DetectionList::npos && index + 1 == rows.Count() && !rows.Row(index).checked) {
        frontEnd.ShowObject(std::string());
        std::cout << DetectionLine(rows.Row(index)) << std::endl;
      }
    });
  }
  ScanSession session(frontEnd, dispatcher);
  session.RunScan(ScanSession::Phases{options.memory, options.registry});
  session.WaitForEnd();
  rows.SetChangeHandler(nullptr);

  // The JSON document stays alone on standard output.
  const auto reasons = RunRowAction(options.action, options.dryRun, rows, options.json ? std::cerr : std::cout);

  const ScanTotals totals{session.FilesScanned(), session.FoldersScanned()};
  if (options.json) {
    std::cout << JsonReport(engine, rows, totals, ActionName(options.action), reasons);
  } else {
    std::cout << frontEnd.Operation() << "\n";
  }
  std::cout.flush();
  if (!std::cout) return Fail("cannot write the report");
  return rows.Count() > 0 ? 1 : 0;
}

}  // namespace korbu::cli
