#include "ui/HistoryModel.h"

#include <algorithm>
#include <cctype>
#include <string_view>

#include "cli/DisplayText.h"
#include "ui/HistoryRecords.h"

namespace korbu {
namespace {

using cli::ReadableFileName;
using cli::ReadableRowName;

// "2026-12-09T03:05:01Z" as "2026-12-09 03:05:01 UTC"; any other text as it reads.
std::string TimeText(const std::string& time) {
  if (time.size() == 20 && time[10] == 'T' && time[19] == 'Z') {
    return time.substr(0, 10) + " " + time.substr(11, 8) + " UTC";
  }
  return ReadableFileName(time);
}

// A change as the history records it ("delete /path") in words.
std::string ChangeText(const std::string& made) {
  const std::size_t space = made.find(' ');
  const std::string op = made.substr(0, space);
  const std::string object = ReadableRowName(space == std::string::npos ? std::string() : made.substr(space + 1));
  if (op == "delete") return "Removed to the quarantine: " + object;
  if (op == "trash") return "Moved to the Trash: " + object;
  if (op == "registry") return "Registry value changed: " + object;
  if (op == "ini") return "Setting changed: " + object;
  if (op == "replace") return "File rewritten: " + object;
  if (op == "attributes") return "Attributes cleared: " + object;
  return ReadableFileName(made);
}

const char* OutcomeWords(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::Restored: return "Restored";
    case UndoOutcome::RestoredInPart: return "Restored in part";
    case UndoOutcome::AlreadyAsBefore: return "Already as before";
    case UndoOutcome::LeftAlone: return "Left alone";
    case UndoOutcome::Failed: return "Not restored";
    case UndoOutcome::Uncertain: return "Uncertain";
  }
  return "Not restored";
}

HistoryEntry EntryOf(const ActionSummary& action) {
  HistoryEntry entry;
  entry.id = action.id;
  entry.title = TimeText(action.time) + "  " + ActionKindText(action.action) + ": " +
                std::to_string(action.rows.size()) + " row(s), " + std::to_string(action.changes) + " change(s)";
  if (action.unreadable > 0) entry.title += ", " + std::to_string(action.unreadable) + " record(s) damaged";
  if (!action.undone.empty()) entry.title += ", restored " + TimeText(action.undone);
  for (const auto& row : action.rows) entry.rows.push_back(ReadableRowName(row.file) + ": " + ReadableFileName(row.virus));
  for (const std::string& made : action.made) entry.changes.push_back(ChangeText(made));
  if (!action.undone.empty()) {
    entry.notRestorable = "Already restored on " + TimeText(action.undone) + ".";
  } else if (action.changes <= 0 && action.unreadable == 0) {
    entry.notRestorable = "Nothing to restore: this action changed nothing.";
  } else {
    entry.restorable = true;
  }
  return entry;
}

}  // namespace

std::string ActionKindText(const std::string& action) {
  if (action == "clean") return "Clean";
  if (action == "delete") return "Delete";
  if (action == "guard: quarantined") return "Quarantined by the guard";
  if (action == "guard: refused") return "Refused by the guard";
  if (action == "guard: found") return "Found by the guard";
  return ReadableFileName(action);
}

std::string HistoryModel::Reload() {
  entries_.clear();
  const auto history = RecordedActions(folder_);
  if (!history) return "The history cannot be read: " + ReadableFileName(history.error().reason);
  for (auto it = history->rbegin(); it != history->rend(); ++it) entries_.push_back(EntryOf(*it));
  return std::string();
}

std::string HistoryModel::Details(std::size_t index) const {
  if (index >= entries_.size()) return std::string();
  const HistoryEntry& entry = entries_[index];
  std::string text = "Action " + entry.id + "\n\nRows:\n";
  for (const std::string& row : entry.rows) text += "  " + row + "\n";
  text += "\nChanges:\n";
  if (entry.changes.empty()) text += "  none\n";
  for (const std::string& change : entry.changes) text += "  " + change + "\n";
  if (!entry.restorable) text += "\n" + entry.notRestorable + "\n";
  return text;
}

std::string HistoryModel::Restore(std::size_t index) {
  if (index >= entries_.size()) return "No action is selected.";
  const HistoryEntry entry = entries_[index];
  if (!entry.restorable) return entry.notRestorable;
  const UndoReport report = UndoRecordedAction(entry.id, folder_);
  std::string text;
  if (!report.error.empty()) {
    text = "Nothing was restored: " + ReadableFileName(report.error);
  } else if (report.Complete()) {
    text = "Restored: everything the action changed is as it was before.";
  } else {
    text = "Restored in part: not everything the action changed is as it was before.";
    for (const UndoStep& step : report.steps) {
      if (step.outcome == UndoOutcome::Restored || step.outcome == UndoOutcome::AlreadyAsBefore) continue;
      text += std::string("\n") + OutcomeWords(step.outcome) + ": " + ReadableRowName(step.object);
      if (!step.aspect.empty()) text += ", " + ReadableFileName(step.aspect);
      if (!step.note.empty()) text += " (" + ReadableFileName(step.note) + ")";
    }
  }
  const std::string reloaded = Reload();
  if (!reloaded.empty()) text += "\n" + reloaded;
  return text;
}

}  // namespace korbu
