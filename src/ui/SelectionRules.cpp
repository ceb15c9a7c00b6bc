#include "ui/SelectionRules.h"

#include "repair/VirusClean.h"

namespace korbu {
namespace {

template <typename Predicate>
std::size_t CountRows(const DetectionList& rows, Predicate predicate) {
  std::size_t count = 0;
  for (const DetectionRow& row : rows.Rows()) {
    if (predicate(row)) ++count;
  }
  return count;
}

void SetAllChecked(DetectionList& rows, bool checked) {
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, checked);
}

}  // namespace

std::size_t CheckedCount(const DetectionList& rows) {
  return CountRows(rows, [](const DetectionRow& row) { return row.checked; });
}

std::size_t PendingCount(const DetectionList& rows) {
  return CountRows(rows, [](const DetectionRow& row) { return IsPending(row); });
}

bool AllRowsHandled(const DetectionList& rows) { return PendingCount(rows) == 0; }

std::size_t CheckedWormCount(const DetectionList& rows) {
  return CountRows(rows, [](const DetectionRow& row) {
    return row.checked && IsPending(row) && IsBrontokVerdict(row.virusName);
  });
}

std::size_t CheckedOtherCount(const DetectionList& rows) {
  return CountRows(rows, [](const DetectionRow& row) {
    return row.checked && IsPending(row) && !IsBrontokVerdict(row.virusName);
  });
}

ActionButtons ButtonRule(const DetectionList& rows) {
  if (CheckedWormCount(rows) > 0) return ActionButtons{true, true};
  return ActionButtons{false, CheckedOtherCount(rows) > 0};
}

ActionControls UpdateActionButtons(const DetectionList& rows, bool selectAllEnabled) {
  ActionControls controls;
  controls.selectAllEnabled = selectAllEnabled && rows.Count() > 0 && !AllRowsHandled(rows);
  controls.buttons = ButtonRule(rows);
  return controls;
}

ActionButtons SelectAllClicked(DetectionList& rows, bool boxChecked) {
  if (boxChecked) {
    SetAllChecked(rows, true);  // handled rows refuse the mark
  } else {
    const std::size_t checked = CheckedCount(rows);
    if (checked == rows.Count() || checked == PendingCount(rows)) SetAllChecked(rows, false);
  }
  return ButtonRule(rows);
}

ActionButtons ListClicked(DetectionList& rows, bool& boxChecked) {
  const bool wanted = CheckedCount(rows) == rows.Count();
  if (wanted != boxChecked) {
    boxChecked = wanted;
    SelectAllClicked(rows, boxChecked);
  }
  return ButtonRule(rows);
}

}  // namespace korbu
