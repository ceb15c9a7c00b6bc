#pragma once
// The window's one way to the recorded actions: the history that korbu-scan
// --history lists and the undo that korbu-scan --undo runs, called, never copied.

#include <string>
#include <vector>

#include "platform/Expected.h"
#include "repair/Journal.h"
#include "repair/Undo.h"

namespace korbu {

/// Every recorded action, oldest first.
Expected<std::vector<ActionSummary>> RecordedActions(const std::string& actionsFolder);

/// Undoes the recorded action with that id.
UndoReport UndoRecordedAction(const std::string& id, const std::string& actionsFolder);

}  // namespace korbu
