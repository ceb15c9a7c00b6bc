#pragma once
// The selection rules of the detection list, as plain functions: which of Clean
// and Delete the checked rows enable, and what the select-all box and a click in
// the list do to the marks. Both windows bind them to their controls through the
// window's controller.

#include <cstddef>

#include "scan/DetectionList.h"

namespace korbu {

std::size_t CheckedCount(const DetectionList& rows);
std::size_t PendingCount(const DetectionList& rows);
/// True when no row is pending, also for an empty list.
bool AllRowsHandled(const DetectionList& rows);
/// Checked pending rows whose virus name is of the worm family.
std::size_t CheckedWormCount(const DetectionList& rows);
/// Checked pending rows of any other virus.
std::size_t CheckedOtherCount(const DetectionList& rows);

struct ActionButtons {
  bool clean = false;
  bool del = false;
};

/// "Clean" needs a checked pending worm-family row, "Delete" any checked pending row.
ActionButtons ButtonRule(const DetectionList& rows);

struct ActionControls {
  ActionButtons buttons;
  bool selectAllEnabled = false;
};

/// The controls' states after an action. The select-all box is never enabled
/// here: it is disabled for an empty list or when every row is handled, else
/// it keeps selectAllEnabled.
ActionControls UpdateActionButtons(const DetectionList& rows, bool selectAllEnabled);

/// The select-all box changed to boxChecked (by the user or the program):
/// checked marks every pending row; unchecked clears every mark when all rows,
/// or all pending ones, were checked, and otherwise leaves the marks alone.
ActionButtons SelectAllClicked(DetectionList& rows, bool boxChecked);

/// A click or double click in the list: the box becomes checked exactly when
/// every row is checked, running SelectAllClicked when that changes its state.
ActionButtons ListClicked(DetectionList& rows, bool& boxChecked);

}  // namespace korbu
