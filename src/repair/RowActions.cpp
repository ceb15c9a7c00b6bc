#include "repair/RowActions.h"

#include "platform/FileSystem.h"
#include "repair/RegistryValues.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "services/FileUtils.h"

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

constexpr const char* kDryRun = "dry run: nothing was changed";

// Why an object that an action worked on is still there; empty when it is gone.
std::string StillPresentReason(const std::string& fileName) {
  if (IsRegistryPath(fileName)) {
    switch (RegistryLocationPresence(fileName)) {
      case ValuePresence::Absent: return std::string();
      case ValuePresence::Unknown: return "the registry value cannot be reached";
      case ValuePresence::Present: return "the registry value could not be deleted";
    }
  }
  const auto info = platform::GetEntryInfo(fileName);
  if (!info) return std::string();
  if (info->kind != platform::EntryKind::Regular) return "it is not a regular file";
  if (IsFileLocked(fileName)) return "the file is in use and could not be deleted";
  return "the file could not be deleted";
}

// Marks a row handled when its object is gone, and tells the reporter.
void Conclude(DetectionList& rows, std::size_t index, ChangeSink& sink, std::string_view handledText,
              const RowReporter& report) {
  if (index >= rows.Count()) return;  // the list was cleared while messages ran
  RowResult result{index, false, std::string()};
  if (!sink.Applies()) {
    result.reason = kDryRun;
  } else {
    result.reason = StillPresentReason(rows.Row(index).fileName);
    if (result.reason.empty()) {
      rows.SetInformation(index, std::string(handledText));
      rows.SetChecked(index, false);
      result.handled = true;
    }
  }
  if (report) report(result);
}

void Run(const PendingMessages& processEvents) {
  if (processEvents) processEvents();
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

void CleanRows(DetectionList& rows, ChangeSink& sink, const PendingMessages& processEvents,
               const RowReporter& report) {
  const std::size_t count = rows.Count();
  for (std::size_t i = 0; i < count && i < rows.Count(); ++i) {
    if (!rows.Row(i).checked) continue;
    const std::string fileName = rows.Row(i).fileName;
    if (!IsBrontokVerdict(rows.Row(i).virusName)) {
      if (report) report(RowResult{i, false, "not of the Brontok family: Clean leaves it, Delete removes it"});
      continue;
    }
    if (IsRegistryPath(fileName)) {
      DeleteRegistryDetection(fileName, sink);
    } else {
      CleanSystem(fileName, sink);
    }
    Run(processEvents);
    Conclude(rows, i, sink, kInfoCleaned, report);
  }
}

void DeleteRows(DetectionList& rows, ChangeSink& sink, const PendingMessages& processEvents,
                const RowReporter& report) {
  const std::size_t count = rows.Count();
  for (std::size_t i = 0; i < count && i < rows.Count(); ++i) {
    if (!rows.Row(i).checked) continue;
    const std::string fileName = rows.Row(i).fileName;
    if (IsRegistryPath(fileName)) {
      DeleteRegistryDetection(fileName, sink);
    } else if (IsBrontokVerdict(rows.Row(i).virusName)) {
      CleanSystem(fileName, sink);
    } else if (!DeleteInfectedFile(fileName, sink)) {
      // Only what this call deleted counts, so a file already gone stays listed.
      std::string reason = StillPresentReason(fileName);
      if (reason.empty()) reason = "the file no longer exists";
      if (report) report(RowResult{i, false, reason});
      continue;
    }
    Run(processEvents);
    Conclude(rows, i, sink, kInfoDeleted, report);
  }
}

}  // namespace korbu
