#include "repair/RowActions.h"

#include <algorithm>
#include <optional>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "repair/RegistryValues.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "scan/RegistryScan.h"
#include "services/FileUtils.h"
#include "services/ShellUtils.h"

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

// The registry value a row names: the one the scan found, or the one its text names.
std::optional<RegistryValueLocation> RowValue(const DetectionRow& row) {
  if (row.registryValue) return row.registryValue;
  return ParseRegistryLocation(row.fileName);
}

// Why an object that an action worked on is still there; empty when it is gone.
std::string StillPresentReason(const DetectionRow& row) {
  if (IsRegistryPath(row.fileName)) {
    const auto value = RowValue(row);
    switch (value ? RegistryValuePresence(*value) : ValuePresence::Unknown) {
      case ValuePresence::Absent: return std::string();
      case ValuePresence::Unknown: return "the registry value cannot be reached";
      case ValuePresence::Present: return "the registry value could not be deleted";
    }
  }
  const std::string& fileName = row.fileName;
  const auto info = platform::GetEntryInfo(fileName);
  if (!info) return std::string();
  if (info->kind != platform::EntryKind::Regular) return "it is not a regular file";
  if (IsFileLocked(fileName)) return "the file is in use and could not be deleted";
  return "the file could not be deleted";
}

// Passes every change on and notes the registry writes of one row's repair, so
// the row can tell afterwards whether they took effect, and why its own file
// was not deleted.
class RowRecorder final : public ForwardingSink {
 public:
  RowRecorder(ChangeSink& inner, const std::string& rowFile) : ForwardingSink(inner), rowFile_(platform::FullPath(rowFile)) {}
  Status DeleteFile(const platform::Folder& folder, const std::string& name) override {
    Status done = inner_.DeleteFile(folder, name);
    if (!done && folder.PathOf(name) == rowFile_) fileFailure = done.error().reason;
    return done;
  }
  bool WriteRegString(platform::RootKey root, std::string_view valuePath, std::string_view text) override {
    return Note(root, valuePath, inner_.WriteRegString(root, valuePath, text));
  }
  bool WriteRegDWord(platform::RootKey root, std::string_view valuePath, std::uint32_t value) override {
    return Note(root, valuePath, inner_.WriteRegDWord(root, valuePath, value));
  }

  std::vector<std::string> written;  // locations of the values set
  std::vector<std::string> refused;  // locations whose write failed at once
  std::string fileFailure;           // why the row's own file was not deleted

 private:
  bool Note(platform::RootKey root, std::string_view valuePath, bool ok) {
    std::string location = MakeRegistryLocation(root, valuePath);
    if (!ok) refused.push_back(location);
    written.push_back(std::move(location));
    return ok;
  }
  std::string rowFile_;
};

// What one row's repair left to judge once every row has been repaired.
struct RowWork {
  std::size_t index = 0;
  std::string handledText;
  std::string reason;  // set when the row is already known to stay pending
  std::vector<std::string> written;
  std::vector<std::string> refused;
  std::string fileFailure;  // why its file was not deleted, where the change said
};

// Why the writes of a row's repair did not take effect; empty when they all did.
// Without a Windows system there is nothing for them to repair.
std::string RepairReason(const RowWork& work, const std::vector<std::string>& failedLater) {
  if (GetWindowsDir().empty()) return std::string();
  std::vector<std::string> failed = work.refused;
  for (const std::string& location : work.written)
    for (const std::string& later : failedLater)
      if (platform::EqualsIgnoringCase(location, later)) failed.push_back(location);
  if (failed.empty()) return std::string();
  std::string reason = "the repair could not set " + failed.front();
  if (failed.size() > 1) reason += " (and " + std::to_string(failed.size() - 1) + " more values)";
  return reason;
}

// Marks a row handled when its object is gone and its repair took effect, and
// tells the reporter.
void Conclude(DetectionList& rows, const RowWork& work, ChangeSink& sink,
              const std::vector<std::string>& failedLater, const RowReporter& report) {
  const std::size_t index = work.index;
  if (index >= rows.Count()) return;  // the list was cleared while messages ran
  RowResult result{index, false, work.reason};
  if (result.reason.empty()) {
    if (!sink.Applies()) {
      result.reason = kDryRun;
    } else {
      result.reason = StillPresentReason(rows.Row(index));
      if (!result.reason.empty() && !work.fileFailure.empty()) result.reason = work.fileFailure;
      if (result.reason.empty()) result.reason = RepairReason(work, failedLater);
      if (result.reason.empty()) {
        rows.SetInformation(index, work.handledText);
        rows.SetChecked(index, false);
        result.handled = true;
      }
    }
  }
  if (report) report(result);
}

// The worm's programs are ended before anything is repaired, so none of them
// writes its values back afterwards: each checked worm row's file, and the
// program a worm row's registry value starts.
void EndWormPrograms(const DetectionList& rows, ChangeSink& sink) {
  if (!sink.Applies()) return;  // a dry run lists them with each row's repair
  for (const DetectionRow& row : rows.Rows()) {
    if (!row.checked || !IsPending(row) || !IsBrontokVerdict(row.virusName)) continue;
    if (!IsRegistryPath(row.fileName)) {
      if (platform::FileExists(row.fileName)) sink.EndProcesses(row.fileName);
      continue;
    }
    const auto value = RowValue(row);
    const auto data = value ? CurrentRegistryValue(*value) : std::nullopt;
    const std::string program = data ? ProgramOfRunValue(*data) : std::string();
    if (!program.empty()) sink.EndProcesses(program);
  }
}

// Makes the registry changes the row's repair collected, reads them back and
// tells the row's result at once, before the next row is repaired.
void ConcludeLast(DetectionList& rows, std::vector<RowWork>& work, ChangeSink& sink,
                  platform::RegistryBatch& batch, const RowReporter& report) {
  if (work.empty()) return;
  std::vector<std::string> failedLater;
  for (const platform::RegistryWriteFailure& failure : batch.Commit())
    failedLater.push_back(RegistryLocationText({failure.root, failure.keyPath, failure.valueName}));
  Conclude(rows, work.back(), sink, failedLater, report);
  work.pop_back();
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
  // Where each reach of the registry is costly (Wine's, while its server runs),
  // every row's changes are made together and read back once.
  platform::RegistryBatch batch;
  EndWormPrograms(rows, sink);
  std::vector<RowWork> work;
  const std::size_t count = rows.Count();
  for (std::size_t i = 0; i < count && i < rows.Count(); ++i) {
    const DetectionRow row = rows.Row(i);
    if (!row.checked) continue;
    if (!IsBrontokVerdict(row.virusName)) {
      work.push_back({i, {}, "not of the Brontok family: Clean leaves it, Delete removes it", {}, {}, {}});
      ConcludeLast(rows, work, sink, batch, report);
      continue;
    }
    RowRecorder recorder(sink, row.fileName);
    if (IsRegistryPath(row.fileName)) {
      if (const auto value = RowValue(row)) DeleteRegistryDetection(*value, recorder);
    } else {
      CleanSystem(row.fileName, recorder);
    }
    work.push_back({i, std::string(kInfoCleaned), {}, std::move(recorder.written), std::move(recorder.refused),
                    std::move(recorder.fileFailure)});
    Run(processEvents);
    ConcludeLast(rows, work, sink, batch, report);
  }
}

void DeleteRows(DetectionList& rows, ChangeSink& sink, const PendingMessages& processEvents,
                const RowReporter& report) {
  platform::RegistryBatch batch;
  EndWormPrograms(rows, sink);
  std::vector<RowWork> work;
  const std::size_t count = rows.Count();
  for (std::size_t i = 0; i < count && i < rows.Count(); ++i) {
    const DetectionRow row = rows.Row(i);
    if (!row.checked) continue;
    RowRecorder recorder(sink, row.fileName);
    if (IsRegistryPath(row.fileName)) {
      if (const auto value = RowValue(row)) DeleteRegistryDetection(*value, recorder);
    } else if (IsBrontokVerdict(row.virusName)) {
      CleanSystem(row.fileName, recorder);
    } else if (!DeleteInfectedFile(row.fileName, recorder)) {
      // Only what this call deleted counts, so a file already gone stays listed.
      std::string reason = StillPresentReason(row);
      if (!reason.empty() && !recorder.fileFailure.empty()) reason = recorder.fileFailure;
      if (reason.empty()) reason = "the file no longer exists";
      work.push_back({i, {}, std::move(reason), {}, {}, {}});
      ConcludeLast(rows, work, sink, batch, report);
      continue;
    }
    work.push_back({i, std::string(kInfoDeleted), {}, std::move(recorder.written), std::move(recorder.refused),
                    std::move(recorder.fileFailure)});
    Run(processEvents);
    ConcludeLast(rows, work, sink, batch, report);
  }
}

}  // namespace korbu
