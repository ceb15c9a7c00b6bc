#include "cli/CommandLine.h"

namespace korbu::cli {

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  CliOptions& o = result.options;
  bool folderSeen = false;
  bool optionsEnded = false;
  bool sawClean = false, sawDelete = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!optionsEnded && arg.size() > 1 && arg[0] == '-') {
      if (arg == "--") optionsEnded = true;
      else if (arg == "--no-subfolders") o.scan.subfolders = false;
      else if (arg == "--program-files-only") o.scan.allFiles = false;
      else if (arg == "--no-heuristic") o.scan.heuristic = false;
      else if (arg == "--no-archive") o.scan.archive = false;
      else if (arg == "--no-memory") o.memory = false;
      else if (arg == "--no-registry") o.registry = false;
      else if (arg == "--json") o.json = true;
      else if (arg == "--help" || arg == "-h") o.help = true;
      else if (arg == "--version") o.version = true;
      else if (arg == "--clean") { o.action = Action::Clean; sawClean = true; }
      else if (arg == "--delete") { o.action = Action::Delete; sawDelete = true; }
      else if (arg == "--dry-run") o.dryRun = true;
      else if (arg == "--database" || arg.rfind("--database=", 0) == 0) {
        if (arg == "--database") {
          if (i + 1 >= args.size()) {
            result.error = "option --database needs a folder";
            return result;
          }
          o.database = args[++i];
        } else {
          o.database = arg.substr(11);
        }
        if (o.database->empty()) {
          result.error = "option --database needs a folder";
          return result;
        }
      } else {
        result.error = "unknown option: " + arg;
        return result;
      }
      continue;
    }
    if (folderSeen) {
      result.error = "only one folder can be scanned: " + arg;
      return result;
    }
    folderSeen = true;
    o.scan.location = arg;
  }
  if (sawClean && sawDelete) result.error = "--clean and --delete exclude each other";
  else if (o.dryRun && o.action == Action::None) result.error = "--dry-run goes with --clean or --delete";
  return result;
}

std::string UsageText() {
  return "Usage: korbu-scan [OPTIONS] [FOLDER]\n"
         "Scans the running programs, the programs started by the registry's Run keys\n"
         "and the files under FOLDER, and lists every detection.\n"
         "\n"
         "Options (each clears one option of the desktop program, all set by default):\n"
         "  --no-subfolders        scan only the files directly in FOLDER\n"
         "  --program-files-only   scan only *.exe, *.scr, *.pif and *.com files\n"
         "  --no-heuristic         do not look for new unknown viruses\n"
         "  --no-archive           do not look inside archives\n"
         "Phases:\n"
         "  --no-memory            do not scan the running programs\n"
         "  --no-registry          do not scan the programs of the Run keys\n"
         "Engine:\n"
         "  --database DIR         load the signature databases from DIR\n"
         "Actions on every detection after the scan:\n"
         "  --clean                stop, remove and repair what the worm family did\n"
         "  --delete               delete the detected files and registry values\n"
         "  --dry-run              with --clean or --delete: show what would change, change nothing\n"
         "Output:\n"
         "  --json                 one JSON document on standard output\n"
         "  --help, --version\n"
         "\n"
         "Exit status: 0 nothing detected, 1 something detected, 2 error.\n";
}

}  // namespace korbu::cli
