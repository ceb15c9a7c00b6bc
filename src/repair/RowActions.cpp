#include "repair/RowActions.h"

#include <algorithm>
#include <optional>
#include <map>
#include <memory>
#include <set>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/SystemFactory.h"
#include "platform/UnreachableSystem.h"
#include "platform/WindowsSystem.h"
#include "repair/ProcessesEndedOnce.h"
#include "repair/RegistryValues.h"
#include "repair/VirusClean.h"
#include "scan/RegistryLocations.h"
#include "scan/RegistryScan.h"
#include "services/FileUtils.h"
#include "services/MiniReg.h"
#include "services/ShellUtils.h"

namespace korbu {
namespace {

constexpr const char* kDryRun = "dry run: nothing was changed";

// Key and name compared apart: value "a\b" of K is not value "b" of K\a.
bool SameValue(const RegistryValueLocation& a, const RegistryValueLocation& b) {
  return a.root == b.root && platform::EqualsIgnoringCase(a.keyPath, b.keyPath) &&
         platform::EqualsIgnoringCase(a.valueName, b.valueName);
}

// The system a row names: the one its scan ran on unless it names another.
std::shared_ptr<platform::WindowsSystem> RowSystem(const DetectionRow& row,
                                                   const std::shared_ptr<platform::WindowsSystem>& scanned) {
  return platform::ResolveSystem(row.system, scanned);
}

// Why an object that an action worked on is still there, as seen from outside;
// empty when it is gone.
std::string StillPresentReason(const platform::WindowsSystem& system, const DetectionRow& row) {
  if (row.IsRegistry()) {
    switch (RegistryValuePresence(system, row.value)) {
      case ValuePresence::Absent: return std::string();
      case ValuePresence::Unknown: return "the registry value cannot be reached";
      case ValuePresence::Present: return "the registry value could not be deleted";
    }
  }
  const std::string& fileName = row.path;
  const auto info = platform::GetEntryInfo(fileName);
  if (!info) return std::string();
  if (info->kind != platform::EntryKind::Regular) return "it is not a regular file";
  if (IsFileLocked(fileName)) return "the file is in use and could not be deleted";
  return "the file could not be deleted";
}

// Why a row's object is still there: what its deletion said, where it said,
// and why a program running its file was not ended. Empty when it is gone.
std::string StillPresentReason(const platform::WindowsSystem& system, const DetectionRow& row,
                               const std::string& fileFailure, const std::string& processFailure) {
  std::string reason = StillPresentReason(system, row);
  if (reason.empty()) return reason;
  if (!fileFailure.empty()) {
    reason = row.IsRegistry() ? reason + ": " + fileFailure : "the file could not be deleted: " + fileFailure;
  }
  if (!processFailure.empty()) reason += " (" + processFailure + ")";
  return reason;
}

// One registry value a row's repair changed, in the Wine prefix it was changed in.
struct ChangedValue {
  std::string prefix;
  RegistryValueLocation value;
};

bool SameValue(const ChangedValue& value, const platform::RegistryWriteFailure& failure) {
  return value.prefix == failure.system && !failure.key &&
         SameValue(value.value, RegistryValueLocation{failure.root, failure.keyPath, failure.valueName});
}

// Passes every change on and notes the registry values of one row's repair, so
// the row can tell afterwards whether they took effect, and why its own file
// was not deleted.
class RowRecorder final : public ForwardingSink {
 public:
  RowRecorder(ChangeSink& inner, const DetectionRow& row)
      : ForwardingSink(inner), row_(row), rowFile_(row.IsRegistry() ? std::string() : platform::FullPath(row.path)) {}
  Status EndProcesses(const std::string& imagePath) override {
    Status done = inner_.EndProcesses(imagePath);
    if (!done && !row_.IsRegistry() && platform::FullPath(imagePath) == rowFile_) processFailure = done.error().reason;
    return done;
  }
  Status DeleteFile(const platform::Folder& folder, const std::string& name) override {
    Status done = inner_.DeleteFile(folder, name);
    if (!done && !row_.IsRegistry() && folder.PathOf(name) == rowFile_) fileFailure = done.error().reason;
    return done;
  }
  Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                        std::string_view text) override {
    return Note(system, value, inner_.WriteRegString(system, value, text));
  }
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                       std::uint32_t data) override {
    return Note(system, value, inner_.WriteRegDWord(system, value, data));
  }
  // A detection's value is judged by whether it is gone afterwards, and by
  // whether its deletion holds (Wine may take it and not be able to save it).
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override {
    Status done = inner_.DeleteRegValue(system, value);
    if (done) {
      changed.push_back({system.Identity().PrefixFolder(), value});
    } else if (row_.IsRegistry() && SameValue(value, row_.value)) {
      fileFailure = done.error().reason;
    }
    return done;
  }

  std::vector<ChangedValue> changed;  // values set or deleted (a refused write is the repair's failure)
  std::string fileFailure;            // why the row's own file (or value) was not deleted
  std::string processFailure;         // why a program running it may still run

 private:
  Status Note(const platform::WindowsSystem& system, const RegistryValueLocation& value, Status done) {
    if (done) changed.push_back({system.Identity().PrefixFolder(), value});
    return done;
  }
  const DetectionRow& row_;
  std::string rowFile_;  // a file row's path, as its changes name it
};

// What one row's repair left to judge once its registry changes are made.
struct RowWork {
  std::size_t index = 0;
  RowState handled = RowState::Pending;  // the state a row gets when all went well
  std::string reason;  // set when the row is already known to stay pending
  Status repaired;     // the system repair's first failure
  std::vector<ChangedValue> changed;
  std::string fileFailure;     // why its file was not deleted, where the change said
  std::string processFailure;  // why a program running its file may still run
  std::string programFailure;  // why the program a registry row's value starts may still run
  bool tried = true;           // false: the action leaves the row as it is
};

// The work of a row already known to stay pending.
RowWork Left(std::size_t index, std::string reason) {
  RowWork work;
  work.index = index;
  work.reason = std::move(reason);
  return work;
}

// What a row's repair through the recorder left to judge.
RowWork Recorded(std::size_t index, RowState handled, RowRecorder& recorder, Status repaired = Ok()) {
  RowWork work;
  work.index = index;
  work.handled = handled;
  work.repaired = std::move(repaired);
  work.changed = std::move(recorder.changed);
  work.fileFailure = std::move(recorder.fileFailure);
  work.processFailure = std::move(recorder.processFailure);
  return work;
}

// Why a row's repair did not take effect: its first step that failed, or a
// registry change that did not hold; empty when it all did. Without a Windows
// system there is nothing for it to repair.
std::string RepairReason(const platform::WindowsSystem& system, const RowWork& work,
                         const std::vector<platform::RegistryWriteFailure>& failedLater) {
  if (GetWindowsDir(system).empty()) return std::string();
  if (!work.repaired) return "the repair " + work.repaired.error().reason;
  std::vector<std::string> failed;
  for (const ChangedValue& value : work.changed) {
    for (const platform::RegistryWriteFailure& later : failedLater)
      if (SameValue(value, later)) failed.push_back(RegistryLocationText(value.value) + ": " + later.reason);
  }
  if (failed.empty()) return std::string();
  std::string reason = "the repair could not set " + failed.front();
  if (failed.size() > 1) reason += " (and " + std::to_string(failed.size() - 1) + " more values)";
  return reason;
}

// Marks a row handled when its object is gone and its repair took effect, and
// tells the reporter. system: the row's Windows system.
void Conclude(DetectionList& rows, const platform::WindowsSystem& system, const RowWork& work, ChangeSink& sink,
              const std::vector<platform::RegistryWriteFailure>& failedLater, const RowReporter& report) {
  const std::size_t index = work.index;
  if (index >= rows.Count()) return;  // the list was cleared while messages ran
  RowResult result{index, false, work.reason};
  const DetectionRow& row = rows.Row(index);
  const std::string prefix = row.system.PrefixFolder();
  if (result.reason.empty() && !prefix.empty() && system.Identity().PrefixFolder().empty())
    result.reason = "the Wine prefix it runs in (" + prefix + ") cannot be found: its system was not repaired";
  if (result.reason.empty()) {
    if (!sink.Applies()) {
      result.reason = kDryRun;
    } else {
      result.reason = StillPresentReason(system, row, work.fileFailure, work.processFailure);
      if (result.reason.empty()) result.reason = RepairReason(system, work, failedLater);
      if (result.reason.empty()) result.reason = work.programFailure;
      if (result.reason.empty()) {
        rows.SetState(index, work.handled);
        rows.SetChecked(index, false);
        result.handled = true;
      }
    }
  }
  // A dry run and a row the action does not take change nothing.
  if (!result.handled && work.tried && sink.Applies()) rows.SetState(index, RowState::Failed, result.reason);
  if (report) report(result);
}

// The worm's programs are ended before anything is repaired, so none of them
// writes its values back afterwards: each checked worm row's file, and the
// program a worm row's registry value starts. Gives, by row, why the program a
// registry row's value starts, or a file row's file, may still run (a file
// row's own repair ends its programs again and keeps why it could not).
std::vector<std::string> EndWormPrograms(const DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& scanned,
                                         ChangeSink& sink) {
  std::vector<std::string> stillRunning(rows.Count());
  if (!sink.Applies()) return stillRunning;  // a dry run lists them with each row's repair
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    const DetectionRow& row = rows.Row(i);
    if (!row.checked || !IsPending(row) || !IsBrontokVerdict(row.virusName)) continue;
    if (!row.IsRegistry()) {
      if (platform::FileExists(row.path)) stillRunning[i] = sink.EndProcesses(row.path).Reason();
      continue;
    }
    const auto system = RowSystem(row, scanned);
    const auto data = CurrentRegistryValue(*system, row.value);
    const std::string program = data ? ProgramOfRunValue(*system, *data) : std::string();
    if (program.empty()) continue;
    if (const Status ended = sink.EndProcesses(program); !ended) {
      stillRunning[i] = "the program its value starts could not be ended: " + ended.error().reason;
    }
  }
  return stillRunning;
}

// Reads ahead, in one reach per Wine prefix, every key the repairs of the
// checked rows look at or write to, and the keys above them (the journal tells
// which keys a write creates).
// The batch must live meanwhile.
void ReadAhead(const DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& scanned) {
  struct Group {
    std::shared_ptr<platform::WindowsSystem> system;
    std::string prefix;  // as the system resolves now: rows of one prefix share a reach
    std::vector<std::pair<platform::RootKey, std::string>> keys;
  };
  std::vector<Group> groups;
  for (const DetectionRow& row : rows.Rows()) {
    if (!row.checked || !IsPending(row) || !row.unknownSystem.empty()) continue;
    auto system = RowSystem(row, scanned);
    const std::string prefix = system->Identity().PrefixFolder();
    auto group = std::find_if(groups.begin(), groups.end(), [&](const Group& g) { return g.prefix == prefix; });
    if (group == groups.end()) {
      group = groups.insert(groups.end(), Group{system, prefix, {}});
      for (const auto& [root, keyPath] : system->SpecialFolderRegistryKeys()) group->keys.emplace_back(root, keyPath);
      for (const auto& [root, keyPath] : system->EnvironmentRegistryKeys()) group->keys.emplace_back(root, keyPath);
    }
    const auto add = [&](platform::RootKey root, const std::string& keyPath) {
      for (const std::string& key : KeyAndParents(keyPath)) group->keys.emplace_back(root, key);
    };
    if (row.IsRegistry()) add(row.value.root, row.value.keyPath);
    if (!row.IsRegistry() && IsBrontokVerdict(row.virusName)) {
      for (const auto& [root, keyPath] : RepairedRegistryKeys(*group->system)) add(root, keyPath);
    }
  }
  for (const Group& group : groups) {
    // Reading ahead only saves reaches of the registry: where it fails, each row
    // reads for itself, and its own result says what could not be read.
    if (const Status read = group.system->Prefetch(group.keys); !read) continue;
  }
}

// A program whose Windows system is unknown: its file is deleted, and no
// system (not the current one in its place) is repaired.
RowWork FileOnlyWork(const platform::WindowsSystem& system, const DetectionRow& row, std::size_t index,
                     ChangeSink& sink) {
  RowRecorder recorder(sink, row);
  const bool deleted = DeleteInfectedFile(row.path, recorder).has_value();
  std::string reason = "its Windows system is unknown (" + row.unknownSystem + "): ";
  if (!sink.Applies()) {
    reason += "only its file would be deleted";
  } else if (deleted) {
    reason += "only its file was deleted";
  } else {
    std::string still = StillPresentReason(system, row, recorder.fileFailure, recorder.processFailure);
    reason += still.empty() ? "the file no longer exists" : still;
  }
  return Left(index, std::move(reason));
}

void Run(const PendingMessages& processEvents) {
  if (processEvents) processEvents();
}

// One action over the checked rows: each row's repair (perRow, on the row's
// Windows system), and its result as soon as its registry changes are
// final. Where they are collected (Wine's registry while its server runs), every
// row's changes are made together and read back once, and the rows that made
// some are concluded after that.
template <typename PerRow>
void ActOnRows(DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& scanned, ChangeSink& actionSink,
               const PendingMessages& processEvents, const RowReporter& report, PerRow perRow) {
  // The worm's programs are ended once for the action, not again for each row.
  ProcessesEndedOnce sink(actionSink);
  platform::RegistryBatch batch;
  if (sink.Applies()) ReadAhead(rows, scanned);
  const std::vector<std::string> stillRunning = EndWormPrograms(rows, scanned, sink);
  std::vector<RowWork> deferred;
  const std::size_t count = rows.Count();
  for (std::size_t i = 0; i < count && i < rows.Count(); ++i) {
    const DetectionRow row = rows.Row(i);
    if (!row.checked) continue;
    if (!row.unknownSystem.empty()) {
      // No system stands in for the unknown one: not even the scan's.
      const platform::UnreachableSystem none({}, "its Windows system is unknown");
      Conclude(rows, none, FileOnlyWork(none, row, i, sink), sink, {}, report);
      continue;
    }
    const auto system = RowSystem(row, scanned);
    RowWork work = perRow(row, i, *system, sink);
    if (row.IsRegistry() && i < stillRunning.size()) work.programFailure = stillRunning[i];
    if (work.reason.empty()) Run(processEvents);
    if (work.reason.empty() && batch.HasPending()) {
      deferred.push_back(std::move(work));
      continue;
    }
    Conclude(rows, *system, work, sink, {}, report);
  }
  const auto failures = batch.Commit();
  for (const RowWork& work : deferred) {
    if (work.index >= rows.Count()) continue;
    Conclude(rows, *RowSystem(rows.Row(work.index), scanned), work, sink, failures, report);
  }
}

// The whole repair of a Windows system runs once per action: a further worm
// row of a system already repaired only loses its own file, and shares how the
// repair of its system went.
Status CleanSystemOnce(const platform::WindowsSystem& system, const std::string& file, ChangeSink& sink,
                       std::map<std::string, Status>& repaired) {
  const platform::WindowsSystemRef identity = system.Identity();
  const std::string name = identity.PrefixFolder() + '\n' + identity.VolumeFolder();
  if (const auto done = repaired.find(name); done != repaired.end()) {
    Status deleted = DeleteInfectedFile(file, sink);
    if (!deleted && platform::FileExists(file)) return deleted;
    return done->second;
  }
  Status result = CleanSystem(system, file, sink).repaired;
  repaired.emplace(name, result);
  return result;
}

}  // namespace

void CleanRows(DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& system, ChangeSink& sink,
               const PendingMessages& processEvents, const RowReporter& report) {
  std::map<std::string, Status> repaired;
  ActOnRows(rows, system, sink, processEvents, report,
            [&](const DetectionRow& row, std::size_t i, const platform::WindowsSystem& rowSystem, ChangeSink& rowSink) {
    if (!IsBrontokVerdict(row.virusName)) {
      RowWork left = Left(i, "not of the Brontok family: Clean leaves it, Delete removes it");
      left.tried = false;
      return left;
    }
    RowRecorder recorder(rowSink, row);
    if (row.IsRegistry()) {
      // Whether the value went is judged by looking afterwards.
      DeleteRegistryDetection(rowSystem, row.value, recorder);
      return Recorded(i, RowState::Cleaned, recorder);
    }
    return Recorded(i, RowState::Cleaned, recorder, CleanSystemOnce(rowSystem, row.path, recorder, repaired));
  });
}

void DeleteRows(DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& system, ChangeSink& sink,
                const PendingMessages& processEvents, const RowReporter& report) {
  std::map<std::string, Status> systems;
  ActOnRows(rows, system, sink, processEvents, report,
            [&](const DetectionRow& row, std::size_t i, const platform::WindowsSystem& rowSystem, ChangeSink& rowSink) {
    RowRecorder recorder(rowSink, row);
    Status repaired;
    if (row.IsRegistry()) {
      DeleteRegistryDetection(rowSystem, row.value, recorder);
    } else if (IsBrontokVerdict(row.virusName)) {
      repaired = CleanSystemOnce(rowSystem, row.path, recorder, systems);
    } else if (!DeleteInfectedFile(row.path, recorder)) {
      // Only what this call deleted counts, so a file already gone stays listed.
      std::string reason = StillPresentReason(rowSystem, row, recorder.fileFailure, recorder.processFailure);
      if (reason.empty()) reason = "the file no longer exists";
      return Left(i, std::move(reason));
    }
    return Recorded(i, RowState::Deleted, recorder, std::move(repaired));
  });
}

}  // namespace korbu
