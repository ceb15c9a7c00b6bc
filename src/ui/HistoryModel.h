#pragma once
// The history view of both windows without a toolkit: the recorded actions (the
// window's and korbu-scan's Clean and Delete, the guard's quarantines and notes),
// newest first, each with its rows and changes, and "Restore", which undoes the
// selected action as korbu-scan --undo does, with its refusals in words. Names
// are shown as korbu-scan shows them: one line each, control bytes escaped.

#include <cstddef>
#include <string>
#include <vector>

#include "repair/Journal.h"

namespace korbu {

inline constexpr const char* kHistoryCaption = "History";
inline constexpr const char* kRestoreCaption = "Restore";
inline constexpr const char* kCloseCaption = "Close";
inline constexpr const char* kHistoryTitle = "KORBU - History";
/// Asked before "Restore" undoes an action: it puts detected files back.
inline constexpr const char* kRestoreQuestion =
    "Restore puts back what this action removed or changed, detected files too. Restore it?";

struct HistoryEntry {
  std::string id;
  /// One line for the list: when, what and how much.
  std::string title;
  /// The rows the action was asked to handle, then the changes it made, one line each.
  std::vector<std::string> rows;
  std::vector<std::string> changes;
  /// Whether "Restore" may undo it, and why not where it may not.
  bool restorable = false;
  std::string notRestorable;
};

class HistoryModel {
 public:
  explicit HistoryModel(std::string actionsFolder = ActionsFolder()) : folder_(std::move(actionsFolder)) {}

  /// Reads the records again. Empty on success, otherwise why they cannot be
  /// listed (the list is then empty).
  std::string Reload();

  const std::vector<HistoryEntry>& Entries() const { return entries_; }
  /// The entry's rows and changes as the text of a details pane; empty for no entry.
  std::string Details(std::size_t index) const;
  /// The text shown in place of the list when it is empty.
  static std::string EmptyText() { return "No action has been recorded."; }

  /// Undoes the entry at index and reads the records again. The outcome in
  /// words, first line a verdict, then each change that is not simply back.
  std::string Restore(std::size_t index);

 private:
  std::string folder_;
  std::vector<HistoryEntry> entries_;
};

/// The kind of a recorded action for people: "Clean", "Delete", "Quarantined by the guard"...
std::string ActionKindText(const std::string& action);

}  // namespace korbu
