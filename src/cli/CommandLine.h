#pragma once
// The command line of korbu-scan, named as clamscan names its options.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/LibClamAV.h"
#include "scan/ScanFrontEnd.h"

namespace korbu::cli {

enum class Action { None, Clean, Delete, Move, Copy };

/// The PATH that stands for standard input, and the name its detection is listed by.
inline constexpr std::string_view kStandardInputArgument = "-";
inline constexpr std::string_view kStandardInputName = "stdin";

/// Regular expressions (POSIX extended) matched against full paths.
struct PathPatterns {
  std::vector<std::string> excludeFiles;    // --exclude
  std::vector<std::string> excludeFolders;  // --exclude-dir
  std::vector<std::string> includeFiles;    // --include
  std::vector<std::string> includeFolders;  // --include-dir
};

struct CliOptions {
  ScanOptions scan;                       // the four options, all checked unless cleared
  std::vector<std::string> paths;         // folders and files, each taken literally
  PathPatterns patterns;
  std::uint32_t maxFileSize = 102400;     // the walk's limit in bytes; 0 for none
  std::optional<std::string> logFile;     // -l, --log
  bool quiet = false;
  bool verbose = false;
  bool toStdout = false;                  // --stdout: error lines on standard output too
  bool noSummary = false;
  bool json = false;
  bool help = false;
  bool version = false;
  bool memory = true;                     // --no-memory clears
  bool registry = true;                   // --no-registry clears
  bool cache = true;                      // --no-cache clears: every file is judged
  std::vector<std::string> databases;     // -d, --database: folders or database files, all loaded
  bool engine = true;                     // --no-engine clears: the own detection alone
  Action action = Action::None;
  std::optional<std::string> targetFolder;  // --move DIR, --copy DIR: where the detected files go
  bool dryRun = false;
  unsigned jobs = 0;                      // -j, --jobs: verdict workers; 0 for one per core
  std::optional<std::string> undo;        // --undo ID|last: no scan
  std::optional<std::string> windows;     // --windows DIR: a mounted Windows volume, no memory phase
  std::optional<std::string> tempDir;     // --tempdir DIR: the engine's temporary files
  std::optional<std::string> clamd;       // --clamd SOCKET|HOST:PORT: clamd's verdicts
  std::optional<std::string> fileList;    // -f, --file-list FILE: PATHs, one a line
  // --follow-dir-symlinks, --follow-file-symlinks N: 0 never, 1 those named as
  // PATH, 2 those the walk meets too (clamscan's); --cross-fs=no stays on each
  // PATH's file system.
  unsigned followFolderLinks = 1;
  unsigned followFileLinks = 1;
  bool crossFileSystems = true;
  std::optional<std::int32_t> maxFiles;      // --max-files N: the engine's limit per archive
  std::optional<std::int32_t> maxRecursion;  // --max-recursion N: the engine's archive levels
  std::uint64_t maxScanSize = 0;             // --max-scansize SIZE: 0 leaves the engine's
  // --scan-pdf, --scan-elf...: formats the engine parses besides the option word's.
  std::uint32_t engineParse = kEngineParsePdf | kEngineParseElf | kEngineParseXmlDocs | kEngineParseSwf |
                              kEngineParseHwp3 | kEngineParseOneNote;
  bool history = false;                   // --history [ID]: no scan
  std::optional<std::string> historyId;   // the one action --history ID lists with its changes
};

struct ParseResult {
  CliOptions options;
  std::string error;  // empty when the command line is good
};

/// Parses the arguments after the program name. Every argument that is not an
/// option is a path; "--" ends the options. An option's value follows it as the
/// next argument or after "=". A scan without a path scans the current folder
/// ("."), unless the last argument was taken as an option's value.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

/// A size with an optional K, M or G suffix (powers of 1024); empty when it is not
/// one or does not fit in 32 bits.
std::optional<std::uint32_t> ParseSize(const std::string& text);

/// The text of --help.
std::string UsageText();

}  // namespace korbu::cli
