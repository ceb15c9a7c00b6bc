#include "ui/HistoryRecords.h"

namespace korbu {

Expected<std::vector<ActionSummary>> RecordedActions(const std::string& actionsFolder) {
  return ActionHistory(actionsFolder);
}

UndoReport UndoRecordedAction(const std::string& id, const std::string& actionsFolder) {
  return UndoAction(id, actionsFolder);
}

}  // namespace korbu
