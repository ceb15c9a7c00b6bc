#pragma once
// korbu-scan --history and --undo: the recorded actions, and undoing one.

#include <iosfwd>
#include <string>

namespace korbu::cli {

/// Lists the recorded actions, or only the one with id and each change it made;
/// returns the exit status: 0, or 2 when the records cannot be trusted or there is
/// no action with id (err says why).
int PrintHistory(bool json, std::ostream& out, std::ostream& err, const std::string& id = {});

/// Undoes the action with that id, or "last"; prints each change's outcome, names
/// made readable as in the scan report. Returns 0 when everything is as before
/// the action, 1 when some change is not (left as it is, not set back, or its
/// record damaged), 2 when no action was undone.
int RunUndo(const std::string& idOrLast, bool json, std::ostream& out, std::ostream& err);

}  // namespace korbu::cli
