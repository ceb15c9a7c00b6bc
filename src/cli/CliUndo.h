#pragma once
// korbu-scan --history and --undo: the recorded actions, and undoing one.

#include <iosfwd>
#include <string>

namespace korbu::cli {

/// Lists the recorded actions; returns the exit status (0).
int PrintHistory(bool json, std::ostream& out);

/// Undoes the action with that id, or "last"; prints each change's outcome.
/// Returns 0 when everything is as before the action, 1 when some change was
/// left as it is or could not be set back, 2 when no action was undone.
int RunUndo(const std::string& idOrLast, bool json, std::ostream& out, std::ostream& err);

}  // namespace korbu::cli
