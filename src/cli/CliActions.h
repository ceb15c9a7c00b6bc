#pragma once
// korbu-scan --clean and --delete: the desktop program's row actions run over
// every row of the finished scan.

#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "scan/DetectionList.h"

namespace korbu::cli {

/// "clean", "delete", or empty for no action: the report's "action" field.
std::string ActionName(Action action);

/// Checks every row and runs the Clean or Delete row loop over them, changing
/// nothing with dryRun. For each row it writes to out the row's line as it
/// stands afterwards, a dry run's planned changes, and for a row that stays
/// pending why. Nothing is asked. Does nothing for Action::None. Returns, by row
/// index, why each row the action left pending stays so (empty for the others).
std::vector<std::string> RunRowAction(Action action, bool dryRun, DetectionList& rows, std::ostream& out);

}  // namespace korbu::cli
