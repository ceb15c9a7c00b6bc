#pragma once
// The command line of korbu-scan.

#include <optional>
#include <string>
#include <vector>

#include "scan/ScanFrontEnd.h"

namespace korbu::cli {

enum class Action { None, Clean, Delete };

struct CliOptions {
  ScanOptions scan;                       // the four options, all checked unless cleared
  bool json = false;
  bool help = false;
  bool version = false;
  bool memory = true;                     // --no-memory clears
  bool registry = true;                   // --no-registry clears
  std::optional<std::string> database;    // --database DIR
  Action action = Action::None;
  bool dryRun = false;
};

struct ParseResult {
  CliOptions options;
  std::string error;  // empty when the command line is good
};

/// Parses the arguments after the program name. FOLDER, when given, becomes the
/// location; "--" ends the options.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

/// The text of --help.
std::string UsageText();

}  // namespace korbu::cli
