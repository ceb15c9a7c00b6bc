#pragma once
// korbu-scan --clean and --delete: the desktop program's row actions run over
// every row of the finished scan.

#include <functional>
#include <memory>
#include <iosfwd>
#include <string>
#include <vector>

#include "cli/CommandLine.h"
#include "cli/ScanReport.h"
#include "platform/WindowsSystem.h"
#include "scan/DetectionList.h"

namespace korbu {
class JournalSink;
}

namespace korbu::cli {

/// "clean", "delete", or empty for no action: the report's "action" field.
std::string ActionName(Action action);

/// What an action did, by row index.
struct ActionOutcome {
  std::vector<std::string> reasons;               // why each row left pending stays so (empty for the others)
  std::vector<std::vector<std::string>> changes;  // the changes made (a dry run's: would make), described
  std::string actionId;                           // the record of the changes; empty when nothing changed
};

/// Checks every row and runs the Clean or Delete row loop over them, changing
/// nothing with dryRun. For each row it writes to out the row's line as it
/// stands afterwards and a dry run's planned changes; each row the action could
/// not handle goes to onError with its cause (a dry run's rows are not errors).
/// The row of standard input is never acted on: it names no file. Nothing is
/// asked. Does nothing for Action::None. Rows naming no system act on system
/// (the scan's), which must be writable.
ActionOutcome RunRowAction(Action action, bool dryRun, const std::shared_ptr<platform::WindowsSystem>& system,
                           DetectionList& rows, std::ostream& out,
                           const std::function<void(const ScanError&)>& onError);

/// The end of an action that records its changes (none for a dry run): forces
/// the records to the disk, then tells why changes were refused and the record
/// the changes are kept in, whose id goes to the outcome.
void TellRecordedAction(JournalSink* journal, std::ostream& out, ActionOutcome& outcome);

}  // namespace korbu::cli
