#include "cli/CommandLine.h"

#include <algorithm>
#include <array>
#include <limits>
#include <utility>

namespace korbu::cli {
namespace {

// Options that take a value, with their long and short spellings.
enum class Valued {
  Database, Log, Exclude, ExcludeDir, Include, IncludeDir, MaxFileSize, Jobs, Undo, Windows, TempDir, FileList,
  MaxFiles, MaxRecursion, MaxScanSize, Clamd, Move, Copy, FollowFolderLinks, FollowFileLinks, CrossFs
};

struct ValuedName {
  const char* longName;
  const char* shortName;  // nullptr when there is none
  Valued which;
  // Whether a value of this option ending the command line was more likely meant
  // as the PATH: a folder's name or pattern may be; a number, a size, the
  // databases or the log written are what the option asked for.
  bool mayBeThePath;
};

constexpr std::array<ValuedName, 21> kValued{{
    {"--database", "-d", Valued::Database, false},
    {"--log", "-l", Valued::Log, false},
    {"--exclude", nullptr, Valued::Exclude, true},
    {"--exclude-dir", nullptr, Valued::ExcludeDir, true},
    {"--include", nullptr, Valued::Include, true},
    {"--include-dir", nullptr, Valued::IncludeDir, true},
    {"--max-filesize", nullptr, Valued::MaxFileSize, false},
    {"--jobs", "-j", Valued::Jobs, false},
    {"--undo", nullptr, Valued::Undo, false},
    {"--windows", nullptr, Valued::Windows, false},
    {"--tempdir", nullptr, Valued::TempDir, true},
    {"--file-list", "-f", Valued::FileList, false},
    {"--max-files", nullptr, Valued::MaxFiles, false},
    {"--max-recursion", nullptr, Valued::MaxRecursion, false},
    {"--max-scansize", nullptr, Valued::MaxScanSize, false},
    {"--clamd", nullptr, Valued::Clamd, false},
    {"--move", nullptr, Valued::Move, true},
    {"--copy", nullptr, Valued::Copy, true},
    {"--follow-dir-symlinks", nullptr, Valued::FollowFolderLinks, false},
    {"--follow-file-symlinks", nullptr, Valued::FollowFileLinks, false},
    {"--cross-fs", nullptr, Valued::CrossFs, false},
}};

bool SetFlag(const std::string& arg, CliOptions& o) {
  if (arg == "--no-subfolders") o.scan.subfolders = false;
  else if (arg == "--program-files-only") o.scan.allFiles = false;
  else if (arg == "--no-heuristic") o.scan.heuristic = false;
  else if (arg == "--no-archive") o.scan.archive = false;
  else if (arg == "--no-memory") o.memory = false;
  else if (arg == "--no-registry") o.registry = false;
  else if (arg == "--no-cache") o.cache = false;
  else if (arg == "--no-engine") o.engine = false;
  else if (arg == "--json") o.json = true;
  else if (arg == "--quiet") o.quiet = true;
  else if (arg == "-v" || arg == "--verbose") o.verbose = true;
  else if (arg == "--stdout") o.toStdout = true;
  else if (arg == "--no-summary") o.noSummary = true;
  else if (arg == "--help" || arg == "-h") o.help = true;
  else if (arg == "--version" || arg == "-V") o.version = true;
  else if (arg == "--clean") o.action = Action::Clean;
  else if (arg == "--delete") o.action = Action::Delete;
  else if (arg == "--dry-run") o.dryRun = true;
  else if (arg == "--history") o.history = true;
  // clamscan's "-r -i": subfolders are walked and only detections listed anyway.
  else if (arg == "-r" || arg == "--recursive") o.scan.subfolders = true;
  else if (arg == "-i" || arg == "--infected") {}
  else return false;
  return true;
}

// clamscan's yes/no switches of what the engine parses and alerts on, by the bit
// of the engine library's option word each sets (CLAM_SCAN_* of its interface).
struct EngineSwitch {
  const char* name;
  std::uint16_t bit;
};
constexpr std::array<EngineSwitch, 8> kEngineSwitches{{
    {"--scan-archive", 0x1},
    {"--scan-mail", 0x2},
    {"--scan-ole2", 0x4},
    {"--alert-encrypted", 0x8},
    {"--scan-html", 0x10},
    {"--scan-pe", 0x20},
    {"--alert-broken", 0x40},
    {"--alert-exceeds-max", 0x100},
}};

// The formats clamscan parses beyond what the option word can name, by their
// bits of the engine's widening; all on by default, as in clamscan.
struct ParseSwitch {
  const char* name;
  std::uint32_t bit;
};
constexpr std::array<ParseSwitch, 6> kParseSwitches{{
    {"--scan-pdf", kEngineParsePdf},
    {"--scan-elf", kEngineParseElf},
    {"--scan-xmldocs", kEngineParseXmlDocs},
    {"--scan-swf", kEngineParseSwf},
    {"--scan-hwp3", kEngineParseHwp3},
    {"--scan-onenote", kEngineParseOneNote},
}};

// "yes" or "no" of "--NAME", "--NAME=yes" or "--NAME=no": nullopt when arg is
// not that switch, else error holds what is wrong (empty when it was taken).
std::optional<bool> SwitchValue(const std::string& arg, const std::string& name, std::string& error) {
  if (arg != name && arg.rfind(name + "=", 0) != 0) return std::nullopt;
  const std::string value = arg == name ? "yes" : arg.substr(name.size() + 1);
  error = value == "yes" || value == "no" ? std::string() : "option " + name + " takes yes or no: " + value;
  return value == "yes";
}

// "--NAME", "--NAME=yes" or "--NAME=no" of a switch above: false for any other
// argument, else error holds what is wrong (empty when it was taken).
bool SetEngineSwitch(const std::string& arg, CliOptions& o, std::string& error) {
  for (const ParseSwitch& s : kParseSwitches) {
    const std::optional<bool> on = SwitchValue(arg, s.name, error);
    if (!on) continue;
    if (error.empty()) o.engineParse = *on ? (o.engineParse | s.bit) : (o.engineParse & ~s.bit);
    return true;
  }
  for (const EngineSwitch& s : kEngineSwitches) {
    const std::optional<bool> value = SwitchValue(arg, s.name, error);
    if (!value) continue;
    if (!error.empty()) return true;
    const bool on = *value;
    if (s.bit == 0x1) {
      o.scan.archive = on;  // the desktop program's own option
    } else if (on) {
      o.scan.engineBitsAdded = static_cast<std::uint16_t>(o.scan.engineBitsAdded | s.bit);
      o.scan.engineBitsRemoved = static_cast<std::uint16_t>(o.scan.engineBitsRemoved & ~s.bit);
    } else {
      o.scan.engineBitsRemoved = static_cast<std::uint16_t>(o.scan.engineBitsRemoved | s.bit);
      o.scan.engineBitsAdded = static_cast<std::uint16_t>(o.scan.engineBitsAdded & ~s.bit);
    }
    error.clear();
    return true;
  }
  return false;
}

// The error text, empty when the value was taken.
std::string SetValue(Valued which, const std::string& name, std::string value, CliOptions& o) {
  if (value.empty()) return "option " + name + " needs a value";
  switch (which) {
    case Valued::Database: o.databases.push_back(std::move(value)); break;
    case Valued::Log: o.logFile = std::move(value); break;
    case Valued::Undo: o.undo = std::move(value); break;
    case Valued::Windows: o.windows = std::move(value); break;
    case Valued::TempDir: o.tempDir = std::move(value); break;
    case Valued::Clamd: o.clamd = std::move(value); break;
    case Valued::FileList: o.fileList = std::move(value); break;
    case Valued::FollowFolderLinks:
    case Valued::FollowFileLinks:
      if (value != "0" && value != "1" && value != "2") return "option " + name + " takes 0, 1 or 2: " + value;
      (which == Valued::FollowFolderLinks ? o.followFolderLinks : o.followFileLinks) =
          static_cast<unsigned>(value[0] - '0');
      break;
    case Valued::CrossFs:
      if (value != "yes" && value != "no") return "option " + name + " takes yes or no: " + value;
      o.crossFileSystems = value == "yes";
      break;
    case Valued::Move:
    case Valued::Copy:
      o.action = which == Valued::Move ? Action::Move : Action::Copy;
      o.targetFolder = std::move(value);
      break;
    case Valued::Exclude: o.patterns.excludeFiles.push_back(std::move(value)); break;
    case Valued::ExcludeDir: o.patterns.excludeFolders.push_back(std::move(value)); break;
    case Valued::Include: o.patterns.includeFiles.push_back(std::move(value)); break;
    case Valued::IncludeDir: o.patterns.includeFolders.push_back(std::move(value)); break;
    case Valued::MaxFileSize: {
      const auto size = ParseSize(value);
      if (!size) return "option " + name + " takes a size below 4G, such as 100K, 20M or 0 for none: " + value;
      o.maxFileSize = *size;
      break;
    }
    case Valued::MaxScanSize: {
      const auto size = ParseSize(value);
      if (!size || *size == 0) return "option " + name + " takes a size from 1 below 4G, such as 400M: " + value;
      o.maxScanSize = *size;
      break;
    }
    case Valued::MaxFiles:
    case Valued::MaxRecursion: {
      // The engine takes them as 32-bit numbers; 0 would leave libclamav's own default.
      std::int64_t number = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || number > 100000000) return "option " + name + " takes a number from 1: " + value;
        number = number * 10 + (c - '0');
      }
      if (number < 1 || number > 100000000) return "option " + name + " takes a number from 1 to 100000000: " + value;
      (which == Valued::MaxFiles ? o.maxFiles : o.maxRecursion) = static_cast<std::int32_t>(number);
      break;
    }
    case Valued::Jobs: {
      unsigned jobs = 0;
      for (char c : value) {
        if (c < '0' || c > '9' || jobs > 1000) return "option " + name + " takes a number of workers from 1 to 1024: " + value;
        jobs = jobs * 10 + static_cast<unsigned>(c - '0');
      }
      if (jobs < 1 || jobs > 1024) return "option " + name + " takes a number of workers from 1 to 1024: " + value;
      o.jobs = jobs;
      break;
    }
  }
  return std::string();
}

// A cluster of short options as getopt reads it ("-ri", "-j4", "-rd db"): letters
// that take no value, then at most one that takes the rest of the cluster or, when
// nothing is left, the next argument. Empty on success, else the error.
// lastTakenBy names the option when it took the next argument as its value.
std::string SetCluster(const std::vector<std::string>& args, std::size_t& i, CliOptions& o, std::string& lastTakenBy) {
  const std::string& arg = args[i];
  for (std::size_t k = 1; k < arg.size(); ++k) {
    const std::string letter{'-', arg[k]};
    if (SetFlag(letter, o)) continue;
    for (const ValuedName& v : kValued) {
      if (v.shortName == nullptr || letter != v.shortName) continue;
      if (k + 1 < arg.size()) return SetValue(v.which, letter, arg.substr(k + 1), o);
      if (i + 1 >= args.size()) return "option " + letter + " needs a value";
      if (v.mayBeThePath) lastTakenBy = letter;
      return SetValue(v.which, letter, args[++i], o);
    }
    return "unknown option: " + arg;
  }
  return std::string();
}

}  // namespace

std::optional<std::uint32_t> ParseSize(const std::string& text) {
  std::uint64_t value = 0;
  std::size_t i = 0;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
    value = value * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  }
  if (i == 0) return std::nullopt;
  if (i + 1 == text.size()) {
    switch (text[i]) {
      case 'k': case 'K': value <<= 10; break;
      case 'm': case 'M': value <<= 20; break;
      case 'g': case 'G': value <<= 30; break;
      default: return std::nullopt;
    }
  } else if (i != text.size()) {
    return std::nullopt;
  }
  if (value > std::numeric_limits<std::uint32_t>::max()) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

ParseResult ParseCommandLine(const std::vector<std::string>& args) {
  ParseResult result;
  CliOptions& o = result.options;
  bool optionsEnded = false;
  // Each action given; an action option repeated is no conflict.
  std::vector<Action> actionsGiven;
  const auto noteAction = [&] {
    if (o.action != Action::None && std::find(actionsGiven.begin(), actionsGiven.end(), o.action) == actionsGiven.end()) {
      actionsGiven.push_back(o.action);
    }
  };
  std::string takenBy;  // the option that took the last argument as its value
  for (std::size_t i = 0; i < args.size(); ++i) {
    noteAction();
    const std::string& arg = args[i];
    takenBy.clear();
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      // A path is taken as written; an empty one names nothing.
      if (arg.empty()) {
        result.error = "an empty path names no file or folder";
        return result;
      }
      o.paths.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (std::string error; SetEngineSwitch(arg, o, error)) {
      if (!error.empty()) {
        result.error = error;
        return result;
      }
      continue;
    }
    if (SetFlag(arg, o)) continue;
    if (arg[1] != '-' && arg.size() > 2) {
      result.error = SetCluster(args, i, o, takenBy);
      if (!result.error.empty()) return result;
      continue;
    }
    bool known = false;
    for (const ValuedName& v : kValued) {
      const std::string longName = v.longName;
      std::string error;
      if (arg == longName || (v.shortName != nullptr && arg == v.shortName)) {
        if (i + 1 >= args.size()) {
          error = "option " + arg + " needs a value";
        } else {
          if (v.mayBeThePath) takenBy = arg;
          error = SetValue(v.which, arg, args[++i], o);
        }
      } else if (arg.rfind(longName + "=", 0) == 0) {
        error = SetValue(v.which, longName, arg.substr(longName.size() + 1), o);
      } else {
        continue;
      }
      known = true;
      if (!error.empty()) {
        result.error = error;
        return result;
      }
      break;
    }
    if (!known) {
      result.error = "unknown option: " + arg;
      return result;
    }
  }
  noteAction();
  if (o.windows) o.memory = false;  // nothing of the installation runs
  // --history ID: the one argument after it names an action, not a PATH.
  if (o.history && o.paths.size() == 1 && o.action == Action::None && !o.undo) {
    o.historyId = o.paths.front();
    o.paths.clear();
  }
  if (actionsGiven.size() > 1) result.error = "--clean, --delete, --move and --copy exclude each other";
  else if (o.clamd && (!o.databases.empty() || !o.engine)) result.error = "--clamd goes without --database and --no-engine";
  else if (o.dryRun && o.action == Action::None) result.error = "--dry-run goes with --clean, --delete, --move or --copy";
  else if ((o.undo || o.history) && (o.action != Action::None || !o.paths.empty() || (o.undo && o.history))) {
    result.error = "--undo and --history go alone (with --json)";
  } else if ((o.undo || o.history) && o.windows) {
    result.error = "--undo and --history need no --windows: each action knows the system it changed";
  } else if (o.fileList && (o.undo || o.history || o.windows)) {
    result.error = "--file-list names the PATHs of a scan";
  } else if (o.paths.empty() && !o.fileList && !o.windows && !o.undo && !o.history && !o.help && !o.version) {
    // (With --windows the installation's users' folders are the default PATHs.)
    // As clamscan: no PATH scans the current folder. But a last argument that an
    // option took as its value was more likely meant as the PATH.
    if (!takenBy.empty()) {
      result.error = "no PATH given: \"" + args.back() + "\" was taken as the value of " + takenBy +
                     "; name the PATH after it (. for the current folder)";
    } else {
      o.paths.push_back(".");
    }
  }
  return result;
}

std::string UsageText() {
  return "Usage: korbu-scan [OPTIONS] [PATH...]\n"
         "Scans the running programs, the programs started by the registry's Run keys\n"
         "and then each PATH in turn (a folder is walked, a file is judged whatever its\n"
         "name, - judges standard input, listed as stdin), and lists every detection.\n"
         "Each PATH is taken literally; without one the current folder is scanned, but\n"
         "when a pattern or folder option (--exclude, --include, their -dir forms,\n"
         "--tempdir) took the last argument as its value the command is refused: that\n"
         "argument was more likely meant as the PATH (write one after it, . for here).\n"
         "\n"
         "Options (each clears one option of the desktop program, all set by default):\n"
         "  --no-subfolders        scan only the files directly in each folder\n"
         "  --program-files-only   walk only *.exe, *.scr, *.pif and *.com files\n"
         "  --no-heuristic         do not look for new unknown viruses\n"
         "  --no-archive           do not look inside archives\n"
         "  -r, --recursive        scan subfolders (the default; taken as clamscan takes it)\n"
         "  -j, --jobs N           judge the walked files with N workers (default: one per\n"
         "                         core; 1 judges each file as the walk reports it)\n"
         "What the engine parses and alerts on (yes or no; the default in brackets):\n"
         "  --scan-html[=no]       HTML and scripts [no]; --scan-mail, --scan-ole2,\n"
         "                         --scan-pe, --scan-archive [yes]\n"
         "  --alert-broken[=no]    broken executables, such as a text beginning with MZ [yes]\n"
         "  --alert-encrypted, --alert-exceeds-max [yes]\n"
         "  --max-files N          files the engine judges in one archive [1000]\n"
         "  --max-recursion N      levels of archives the engine unpacks [6]\n"
         "  --max-scansize SIZE    bytes the engine reads of one file, its archive's\n"
         "                         members included [the engine's own, 400M]\n"
         "  --scan-pdf[=no], --scan-elf, --scan-xmldocs, --scan-swf, --scan-hwp3,\n"
         "  --scan-onenote         formats parsed besides [yes]\n"
         "What is scanned:\n"
         "  -f, --file-list FILE   scan the PATHs FILE lists, one a line, besides those given\n"
         "  --follow-dir-symlinks N, --follow-file-symlinks N\n"
         "                         links to folders, to files: 0 never followed, 1 only\n"
         "                         those named as PATH [1], 2 those the walk meets too;\n"
         "                         what a link leads to is listed by its own name\n"
         "  --cross-fs=no          walk no folder on another file system than its PATH's\n"
         "  --max-filesize SIZE    skip files larger than SIZE (K, M, G suffixes); the\n"
         "                         default is 100K (102400 bytes), as in the desktop\n"
         "                         program; 0 lifts this limit, not the engine's own:\n"
         "                         the engine judges no file over 10M and no more than\n"
         "                         10M of a member of an archive; a file it could not\n"
         "                         judge whole is listed as NOT SCANNED WHOLE\n"
         "  --exclude REGEX        skip files whose path matches REGEX\n"
         "  --exclude-dir REGEX    skip folders whose path matches REGEX\n"
         "  --include REGEX        scan only files whose path matches REGEX\n"
         "  --include-dir REGEX    scan only folders whose path matches REGEX\n"
         "                         As in clamscan: POSIX extended expressions over bytes,\n"
         "                         found anywhere in the path; a folder's path has no\n"
         "                         trailing separator, and a REGEX that ends in one is\n"
         "                         matched against the path with one appended; the\n"
         "                         folders and files named as PATH are filtered too (so\n"
         "                         --include-dir must also match a folder named). Unlike\n"
         "                         clamscan, the path is always the full one, also for a\n"
         "                         relative PATH (as the report names it), and is never\n"
         "                         cut short. Letter case counts (on Windows it does not).\n"
         "                         Matching takes time in proportion to the path's length\n"
         "                         whatever the REGEX.\n"
         "Phases:\n"
         "  --no-memory            do not scan the running programs\n"
         "  --no-registry          do not scan the programs of the Run keys\n"
         "  --no-cache             judge every file; without it, a file found clean before\n"
         "                         and unchanged since is taken from the verdict cache\n"
         "                         ($XDG_CACHE_HOME/korbu, else ~/.cache/korbu)\n"
         "Engine:\n"
         "  -d, --database DIR|FILE load the signature databases of DIR, or the one\n"
         "                         database FILE (.cvd, .cld, .cud, .hdb, .ndb...); given\n"
         "                         more than once, all are loaded; stop with status 2\n"
         "                         when one does not load; without it they are\n"
         "                         looked for in the program's folder, then in the\n"
         "                         system's ClamAV folder (/var/lib/clamav), and the scan\n"
         "                         goes on with the own detection when none load\n"
         "  --no-engine            load no databases: the own detection alone\n"
         "  --clamd SOCKET|HOST:PORT\n"
         "                         the verdicts of the signature engine come from the\n"
         "                         running clamd at the local SOCKET (a path with a '/';\n"
         "                         the open file is passed) or at HOST:PORT (its bytes\n"
         "                         are streamed); every file it does not judge is an error\n"
         "  --tempdir DIR          the engine makes its temporary files and folders in DIR\n"
         "                         (by default $TMPDIR, else /tmp); refused when DIR or a\n"
         "                         folder above it is a link, another user's, or may be\n"
         "                         written by others without being sticky (as /tmp is)\n"
         "Rescue mode (a Windows installation that is not running):\n"
         "  --windows DIR          DIR is the root of a mounted Windows system volume (the\n"
         "                         folder holding Windows and Users): its registry hives\n"
         "                         and folders are scanned and repaired instead of a Wine\n"
         "                         prefix's, the Run keys and settings of every user\n"
         "                         included; no running program is scanned; without PATH\n"
         "                         the users' profile folders are walked. Changes are\n"
         "                         refused, with the reason, when the volume is mounted\n"
         "                         read-only, Windows is hibernated or was shut down with\n"
         "                         fast start-up, or a hive is damaged or dirty with no\n"
         "                         log to replay; the scan still runs.\n"
         "Actions on every detection after the scan:\n"
         "  --clean                stop, remove and repair what the worm family did\n"
         "  --delete               delete the detected files and registry values\n"
         "  --move DIR, --copy DIR move or copy each detected file into DIR, as clamscan\n"
         "                         does: a name taken there gets .001 on; the copy is\n"
         "                         readable by its maker alone, and a move removes the\n"
         "                         file through the quarantine. DIR is refused as --tempdir\n"
         "                         is, before anything is scanned\n"
         "  --dry-run              with an action above: show what would change, change nothing\n"
         "                         A row an action cannot handle is an error, with its cause.\n"
         "Every action is recorded first and can be undone (no scan is run for these):\n"
         "  --history [ID]         list the recorded actions; with ID, that one and its changes\n"
         "  --undo ID|last         set back what one action changed, where nothing changed it since\n"
         "Output:\n"
         "  --json                 one JSON document on standard output\n"
         "  -l, --log FILE         append the text report to FILE as well\n"
         "  -i, --infected         list only detections (the default; taken as clamscan\n"
         "                         takes it)\n"
         "  --quiet                print only detections, files not scanned whole and errors\n"
         "  --no-summary           print only the rows: no engine lines, no summary\n"
         "  -v, --verbose          list the running programs not scanned whole too\n"
         "  --stdout               write the error lines to standard output too\n"
         "  -h, --help, -V, --version\n"
         "Short options may run together, as in -ri or -j4.\n"
         "Names print on one line as UTF-8 (on a Windows console in Unicode, whatever\n"
         "its code page): control characters, line and paragraph separators,\n"
         "bidirectional controls and bytes that are not UTF-8 as \\xHH, and a backslash\n"
         "that would read as the start of such an escape as \\\\.\n"
         "\n"
         "Ctrl-C or SIGTERM stops the scan and reports what was done (no action is\n"
         "then started); the program then ends by that signal, so a shell sees 130 or\n"
         "143 (on Windows, the status of a program Ctrl-C ended).\n"
         "Exit status: 1 something was detected, else 2 an error occurred (a file or\n"
         "folder that could not be read, a row an action could not handle, output that\n"
         "could not be written, a bad option), else 0; with --undo: 0 all set back,\n"
         "1 some changes left as they are, 2 error; any command whose output cannot be\n"
         "written: 2.\n";
}

}  // namespace korbu::cli
