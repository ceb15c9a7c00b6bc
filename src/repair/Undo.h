#pragma once
// Undoing one recorded action (see Journal.h): each change is reversed, newest
// first, only where its object still is as the action left it; anything
// changed since is left alone and reported.

#include <string>
#include <string_view>
#include <vector>

#include "repair/Journal.h"

namespace korbu {

enum class UndoOutcome {
  Restored,         // set back as it was before the action
  AlreadyAsBefore,  // nothing to do: the change never happened or was reverted
  LeftAlone,        // changed since the action: not touched
  Failed,           // could not be set back
};

struct UndoStep {
  std::string object;  // what the change touched, for people
  UndoOutcome outcome = UndoOutcome::Failed;
  std::string note;    // why, where it is not restored
};

struct UndoReport {
  std::string id;     // the action undone
  std::string error;  // set when no action was undone at all
  std::vector<UndoStep> steps;
  /// True when every change is as it was before the action.
  bool Complete() const;
};

/// Undoes the action with that id, or with "last" the newest one not yet undone.
UndoReport UndoAction(std::string_view idOrLast, const std::string& actionsFolder = ActionsFolder());

/// One recorded action for the history.
struct ActionSummary {
  std::string id;
  std::string time;
  std::string action;  // "clean" or "delete"
  struct Row {
    std::string file;
    std::string virus;
  };
  std::vector<Row> rows;
  int changes = 0;
  std::string undone;  // when it was undone completely; empty otherwise
};

/// Every recorded action, oldest first.
std::vector<ActionSummary> ActionHistory(const std::string& actionsFolder = ActionsFolder());

}  // namespace korbu
