#pragma once
// Undoing one recorded action (see Journal.h): each change is reversed, newest
// first, only where its object still is as the action left it; anything
// changed since is left alone and reported. Files are written only through
// folders held open without following links, a restored file gets back its
// content, permission bits and owner, and the records are used only while they
// are the running user's own.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "repair/Journal.h"

namespace korbu {

enum class UndoOutcome {
  Restored,         // set back as it was before the action
  RestoredInPart,   // back, but not quite as it was (the note says how)
  AlreadyAsBefore,  // nothing to do: the change never happened or was reverted
  LeftAlone,        // changed since the action, or unsafe to reach: not touched
  Failed,           // could not be set back
  Uncertain,        // its record is cut short or damaged: what it changed is unknown
};

struct UndoStep {
  std::string object;  // the file path or registry location the change touched, as recorded
  std::string aspect;  // what of it, where not all of it: "attributes", "[boot] shell"
  UndoOutcome outcome = UndoOutcome::Failed;
  std::string note;  // why, where it is not simply restored
};

struct UndoReport {
  std::string id;     // the action undone
  std::string error;  // set when no action was undone at all
  std::vector<UndoStep> steps;
  /// True when every recorded change was checked and is as it was before the
  /// action.
  bool Complete() const;
};

/// Undoes the action with that id, or with "last" the newest one not yet undone
/// completely, holding the records' lock meanwhile.
UndoReport UndoAction(std::string_view idOrLast, const std::string& actionsFolder = ActionsFolder());

/// One recorded action for the history.
struct ActionSummary {
  std::string id;
  std::string time;
  std::string action;  // "clean" or "delete"
  std::vector<ActionHeader::Row> rows;
  int changes = 0;
  int unreadable = 0;  // records cut short or damaged
  std::string undone;  // when it was undone completely; empty otherwise
  /// Each change made, in order, as its journal line's op and what it touched
  /// ("delete /path", "registry HKEY_...\\Value"); raw bytes, not yet readable.
  std::vector<std::string> made;
};

/// Every recorded action, oldest first; an error when the records cannot be
/// trusted.
Expected<std::vector<ActionSummary>> ActionHistory(const std::string& actionsFolder = ActionsFolder());

}  // namespace korbu
