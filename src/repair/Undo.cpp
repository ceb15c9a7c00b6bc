#include "repair/Undo.h"

#include <algorithm>
#include <map>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/DurableFile.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/Sha256.h"
#include "platform/WindowsSystemChoice.h"
#include "repair/Quarantine.h"
#include "repair/RegistryValues.h"
#include "repair/RepairChanges.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {

using nlohmann::json;

constexpr const char* kChangedSince = "changed since the action: left as it is";
constexpr const char* kTaken = "something else is at its place now: left as it is";

std::string Text(const json& entry, const char* field) {
  const auto it = entry.find(field);
  if (it == entry.end() || !it->is_string()) return std::string();
  return UnescapeBytes(it->get<std::string>()).value_or(std::string());
}

// A field holding escaped bytes or null: outer empty when it is malformed.
std::optional<std::optional<std::string>> Bytes(const json& entry, const char* field) {
  const auto it = entry.find(field);
  if (it == entry.end()) return std::nullopt;
  if (it->is_null()) return std::optional<std::string>();
  if (!it->is_string()) return std::nullopt;
  const auto bytes = UnescapeBytes(it->get<std::string>());
  if (!bytes) return std::nullopt;
  return std::optional<std::string>(*bytes);
}

std::optional<std::string> FileContent(const std::string& path) {
  if (!platform::GetEntryInfo(path)) return std::nullopt;
  return platform::ReadWholeFile(path, platform::ShareMode::DenyNone);
}

bool Exists(const std::string& path) { return platform::GetEntryInfo(path).has_value(); }

struct RegistryState {
  bool present = false;
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const RegistryState&) const = default;
};

std::optional<RegistryState> RegistryField(const json& entry, const char* field) {
  const auto it = entry.find(field);
  if (it == entry.end()) return std::nullopt;
  if (it->is_null()) return RegistryState{};
  if (!it->is_object()) return std::nullopt;
  const auto data = UnescapeBytes(it->value("data", ""));
  if (!data) return std::nullopt;
  return RegistryState{true, it->value("type", 0u), *data};
}

// The value a registry entry names: by its key and name where the journal kept
// them apart (a name may hold a backslash), else by splitting its location.
std::optional<RegistryValueLocation> EntryValue(const json& entry, const std::string& location) {
  if (entry.contains("key") && entry.contains("name")) {
    const auto split = SplitRegistryLocation(location);
    if (!split) return std::nullopt;
    return RegistryValueLocation{split->root, Text(entry, "key"), Text(entry, "name")};
  }
  const auto split = SplitRegistryLocation(location);
  if (!split) return std::nullopt;
  const auto path = SplitValuePath(split->valuePath);
  if (!path) return std::nullopt;
  return RegistryValueLocation{split->root, std::string(path->keyPath), std::string(path->valueName)};
}

// The Windows system a registry record was made in: the Wine prefix it names.
platform::WindowsSystemRef EntrySystem(const json& entry) {
  const std::string prefix = Text(entry, "prefix");
  return prefix.empty() ? platform::WindowsSystemRef{} : platform::WindowsSystemRef::Prefix(prefix);
}

// Registry records are undone together, as a clean makes them: the keys they
// name read ahead in one reach per Wine prefix, the changes collected and made
// at the end in one more, then each read back. Steps whose change did not take
// effect are marked so at the end.
class RegistryUndo {
 public:
  explicit RegistryUndo(const std::vector<json>& entries) {
    std::vector<std::pair<platform::WindowsSystemRef, std::vector<std::pair<platform::RootKey, std::string>>>> keys;
    for (const json& entry : entries) {
      if (entry.value("op", "") != "registry") continue;
      const auto value = EntryValue(entry, Text(entry, "location"));
      if (!value) continue;
      const auto system = EntrySystem(entry);
      auto group = std::find_if(keys.begin(), keys.end(), [&](const auto& g) { return g.first == system; });
      if (group == keys.end()) group = keys.insert(keys.end(), {system, {}});
      group->second.emplace_back(value->root, value->keyPath);
    }
    for (const auto& [system, list] : keys) {
      platform::ScopedWindowsSystem chosen(system);
      (void)batch_.Prefetch(list);  // a failure shows in the records' own steps
    }
  }

  void Undo(const json& entry, std::vector<UndoStep>& steps) {
    platform::ScopedWindowsSystem chosen(EntrySystem(entry));
    const std::string location = Text(entry, "location");
    UndoStep step{"registry value " + location, UndoOutcome::Failed, std::string()};
    const auto value = EntryValue(entry, location);
    const auto before = RegistryField(entry, "old");
    const auto after = RegistryField(entry, "new");
    if (!value || !before || !after) {
      step.note = "the record is damaged";
      steps.push_back(step);
      return;
    }
    if (RegistryValuePresence(*value) == ValuePresence::Unknown) {
      step.note = "the registry cannot be reached";
      steps.push_back(step);
      return;
    }
    RegistryState now;
    if (const auto current = CurrentRegistryValue(*value)) now = {true, current->type, current->data};
    if (now == *before) {
      step.outcome = UndoOutcome::AlreadyAsBefore;
    } else if (now != *after) {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = kChangedSince;
    } else {
      Status restored;
      if (before->present) {
        auto key = platform::RegistryKey::Create(value->root, value->keyPath);
        restored = key ? key->SetValue(value->valueName, before->type, before->data) : Status(key.error());
      } else {
        auto key = platform::RegistryKey::Open(value->root, value->keyPath, platform::KeyAccess::Write);
        restored = key ? key->DeleteValue(value->valueName) : Status(key.error());
      }
      if (restored) {
        step.outcome = UndoOutcome::Restored;
        Remember(steps.size(), *value, false);
      } else {
        step.note = "the registry value cannot be written: " + restored.error().reason;
      }
    }
    steps.push_back(step);
    const bool absentNow = step.outcome == UndoOutcome::AlreadyAsBefore || step.outcome == UndoOutcome::Restored;
    if (!before->present && absentNow) RemoveCreatedKeys(entry, *value, steps);
  }

  // Makes the collected changes; the steps whose change did not take effect say why.
  void Finish(std::vector<UndoStep>& steps) {
    for (const platform::RegistryWriteFailure& failure : batch_.Commit()) {
      for (const Pending& pending : pending_) {
        if (pending.system != failure.system || pending.key != failure.key || pending.value.root != failure.root ||
            pending.value.keyPath != failure.keyPath || pending.value.valueName != failure.valueName)
          continue;
        UndoStep& step = steps[pending.step];
        const bool stillUsed = pending.key && failure.reason == kKeyNotEmpty;
        step.outcome = stillUsed ? UndoOutcome::LeftAlone : UndoOutcome::Failed;
        step.note = stillUsed ? kKeyInUse : "the change did not take effect: " + failure.reason;
      }
    }
  }

 private:
  static constexpr const char* kKeyNotEmpty = "the key is not empty";
  static constexpr const char* kKeyInUse = "it holds other values or keys now: left as it is";

  struct Pending {
    std::size_t step = 0;
    std::string system;
    RegistryValueLocation value;
    bool key = false;
  };

  void Remember(std::size_t step, const RegistryValueLocation& value, bool key) {
    if (batch_.HasPending()) pending_.push_back({step, platform::ChosenWinePrefix(), value, key});
  }

  // The keys the action created for the value, deepest first, each only while
  // it holds nothing.
  void RemoveCreatedKeys(const json& entry, const RegistryValueLocation& value, std::vector<UndoStep>& steps) {
    const std::string created = Text(entry, "created");
    if (created.empty() || !(value.keyPath == created || value.keyPath.starts_with(created + "\\"))) return;
    auto keys = KeyAndParents(value.keyPath);
    std::erase_if(keys, [&](const std::string& key) { return key.size() < created.size(); });
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
      UndoStep step{"registry key " + RootKeyName(value.root) + "\\" + *key, UndoOutcome::Restored, std::string()};
      const Status removed = platform::RegistryKey::DeleteEmptyKey(value.root, *key);
      if (!removed && platform::IsNotFound(removed.error())) continue;  // gone already
      if (!removed) {
        const bool stillUsed = removed.error().reason == kKeyNotEmpty;
        step.outcome = stillUsed ? UndoOutcome::LeftAlone : UndoOutcome::Failed;
        step.note = stillUsed ? kKeyInUse : "the key cannot be removed: " + removed.error().reason;
        steps.push_back(step);
        return;
      }
      Remember(steps.size(), RegistryValueLocation{value.root, *key, std::string()}, true);
      steps.push_back(step);
    }
  }

  platform::RegistryBatch batch_;
  std::vector<Pending> pending_;
};

UndoStep UndoIni(const json& entry) {
  const std::string path = Text(entry, "path");
  const std::string section = Text(entry, "section");
  const std::string key = Text(entry, "key");
  UndoStep step{path + " [" + section + "] " + key, UndoOutcome::Failed, std::string()};
  const auto before = Bytes(entry, "old");
  const auto after = Bytes(entry, "new");
  if (path.empty() || !before || !after || !*after) {
    step.note = "the record is damaged";
    return step;
  }
  const auto now = FileContent(path);
  if (now == *before) {
    step.outcome = UndoOutcome::AlreadyAsBefore;
    return step;
  }
  bool done = false;
  if (now == *after) {
    done = *before ? platform::ReplaceFileAtomically(path, **before) : platform::DeleteFile(path);
  } else if (now && *before && IniValueOf(*now, section, key) == IniValueOf(**after, section, key)) {
    // Other lines of the file changed since; the entry alone goes back.
    const std::string old = IniValueOf(**before, section, key);
    const auto restored = old.empty() ? std::nullopt : platform::WithIniEntry(*now, section, key, old);
    if (!restored) {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = kChangedSince;
      return step;
    }
    done = platform::ReplaceFileAtomically(path, *restored);
  } else {
    step.outcome = UndoOutcome::LeftAlone;
    step.note = kChangedSince;
    return step;
  }
  if (done) step.outcome = UndoOutcome::Restored;
  else step.note = "the file cannot be written";
  return step;
}

void UndoReplace(const json& entry, std::vector<UndoStep>& steps) {
  const std::string path = Text(entry, "path");
  const std::string backup = Text(entry, "backup");
  UndoStep step{path, UndoOutcome::Failed, std::string()};
  const auto before = Bytes(entry, "old");
  const auto after = Bytes(entry, "new");
  if (path.empty() || !before || !*before || !after || !*after) {
    step.note = "the record is damaged";
    steps.push_back(step);
    return;
  }
  const auto now = FileContent(path);
  if (now == **before) {
    step.outcome = UndoOutcome::AlreadyAsBefore;
  } else if (now != **after) {
    step.outcome = UndoOutcome::LeftAlone;
    step.note = kChangedSince;
  } else if (platform::ReplaceFileAtomically(path, **before)) {
    step.outcome = UndoOutcome::Restored;
  } else {
    step.note = "the file cannot be written";
  }
  steps.push_back(step);
  // The copy the action made goes only once the file itself is back.
  if (backup.empty() || step.outcome == UndoOutcome::LeftAlone || step.outcome == UndoOutcome::Failed) return;
  UndoStep copy{backup, UndoOutcome::AlreadyAsBefore, std::string()};
  if (const auto kept = FileContent(backup)) {
    if (*kept != **before) {
      copy = {backup, UndoOutcome::LeftAlone, kChangedSince};
    } else if (platform::DeleteFile(backup)) {
      copy.outcome = UndoOutcome::Restored;
    } else {
      copy = {backup, UndoOutcome::Failed, "the copy the action made cannot be removed"};
    }
  }
  steps.push_back(copy);
}

UndoStep UndoDelete(const json& entry, const std::string& actionFolder) {
  const std::string path = Text(entry, "path");
  UndoStep step{path, UndoOutcome::Failed, std::string()};
  const std::string item = entry.value("quarantine", "");
  if (path.empty() || item.empty() || item.find_first_of("/\\") != std::string::npos || item[0] == '.') {
    step.note = "the record is damaged";
    return step;
  }
  if (Exists(path)) {
    const auto now = FileContent(path);
    if (now && platform::Sha256Hex(*now) == entry.value("sha256", "")) {
      step.outcome = UndoOutcome::AlreadyAsBefore;
    } else {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = kTaken;
    }
    return step;
  }
  const auto kept = ReadQuarantined(InFolder(InFolder(actionFolder, kQuarantineFolderName), item));
  if (!kept || kept->file.sha256 != entry.value("sha256", "")) {
    step.note = "its quarantined copy is missing or damaged";
  } else if (!platform::DirectoryExists(platform::ExtractFilePath(path))) {
    step.note = "its folder no longer exists";
  } else if (CreateFileAt(path, kept->content, kept->file.mode)) {
    step.outcome = UndoOutcome::Restored;
  } else {
    step.note = "it cannot be written back";
  }
  return step;
}

// The freedesktop.org Trash keeps an item at T/files/NAME and its record at
// T/info/NAME.trashinfo.
void ForgetTrashRecord(const std::string& trashedAt) {
  const std::size_t files = trashedAt.rfind("/files/");
  if (files == std::string::npos) return;
  platform::DeleteFile(trashedAt.substr(0, files) + "/info/" + trashedAt.substr(files + 7) + ".trashinfo");
}

UndoStep UndoTrash(const json& entry, const std::string& trashedAt) {
  const std::string path = Text(entry, "path");
  UndoStep step{path, UndoOutcome::Failed, std::string()};
  if (path.empty()) {
    step.note = "the record is damaged";
    return step;
  }
  const bool inTrash = !trashedAt.empty() && Exists(trashedAt);
  if (Exists(path)) {
    if (inTrash) {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = std::string(kTaken) + "; the item stays in the Trash at " + trashedAt;
    } else {
      step.outcome = UndoOutcome::AlreadyAsBefore;  // the move never happened
    }
  } else if (trashedAt.empty()) {
    step.note = "moved to the Trash, but where is not recorded: restore it from the Trash by hand";
  } else if (!inTrash) {
    step.note = "it is no longer in the Trash at " + trashedAt;
  } else if (platform::MoveNoReplace(trashedAt, path)) {
    ForgetTrashRecord(trashedAt);
    step.outcome = UndoOutcome::Restored;
  } else {
    step.note = "it cannot be moved back from " + trashedAt;
  }
  return step;
}

UndoStep UndoAttributes(const json& entry) {
  const std::string path = Text(entry, "path");
  UndoStep step{"attributes of " + path, UndoOutcome::AlreadyAsBefore, std::string()};
  const std::uint32_t old = entry.value("old", 0u);
  const auto info = platform::GetEntryInfo(path);
  if ((old & platform::kAttrReadOnly) == 0 || (info && (info->attributes & platform::kAttrReadOnly) != 0)) return step;
  if (!info) {
    step = {step.object, UndoOutcome::Failed, "the file is not at its place"};
  } else if (platform::SetFileAttributes(path, info->attributes | platform::kAttrReadOnly)) {
    step.outcome = UndoOutcome::Restored;
  } else {
    step = {step.object, UndoOutcome::Failed, "the read-only flag cannot be set"};
  }
  return step;
}

bool UndoneCompletely(const ActionRecord& action) {
  for (const json& entry : action.entries) {
    if (entry.value("op", "") == "undone" && entry.value("complete", false)) return true;
  }
  return false;
}

std::optional<ActionRecord> FindAction(std::string_view idOrLast, const std::string& actionsFolder) {
  if (idOrLast != "last") return ReadAction(actionsFolder, std::string(idOrLast));
  const auto ids = ActionIds(actionsFolder);
  for (auto it = ids.rbegin(); it != ids.rend(); ++it) {
    auto action = ReadAction(actionsFolder, *it);
    if (action && !UndoneCompletely(*action)) return action;
  }
  return std::nullopt;
}

}  // namespace

bool UndoReport::Complete() const {
  if (!error.empty()) return false;
  for (const UndoStep& step : steps) {
    if (step.outcome == UndoOutcome::LeftAlone || step.outcome == UndoOutcome::Failed) return false;
  }
  return true;
}

UndoReport UndoAction(std::string_view idOrLast, const std::string& actionsFolder) {
  UndoReport report;
  const auto action = FindAction(idOrLast, actionsFolder);
  if (!action) {
    report.error = idOrLast == "last" ? "no recorded action is left to undo"
                                      : "no recorded action has the id " + std::string(idOrLast);
    return report;
  }
  report.id = action->id;
  std::map<int, std::string> trashedAt;
  RegistryUndo registry(action->entries);
  for (const json& entry : action->entries) {
    if (entry.value("op", "") == "trashed") trashedAt[entry.value("n", 0)] = Text(entry, "at");
  }
  for (auto it = action->entries.rbegin(); it != action->entries.rend(); ++it) {
    const json& entry = *it;
    const std::string op = entry.value("op", "");
    if (op == "registry") registry.Undo(entry, report.steps);
    else if (op == "ini") report.steps.push_back(UndoIni(entry));
    else if (op == "replace") UndoReplace(entry, report.steps);
    else if (op == "delete") report.steps.push_back(UndoDelete(entry, action->folder));
    else if (op == "trash") report.steps.push_back(UndoTrash(entry, trashedAt[entry.value("n", 0)]));
    else if (op == "attributes") report.steps.push_back(UndoAttributes(entry));
  }
  registry.Finish(report.steps);
  AppendToAction(*action, {{"op", "undone"}, {"time", UtcNow()}, {"complete", report.Complete()}});
  return report;
}

std::vector<ActionSummary> ActionHistory(const std::string& actionsFolder) {
  std::vector<ActionSummary> history;
  for (const std::string& id : ActionIds(actionsFolder)) {
    const auto action = ReadAction(actionsFolder, id);
    if (!action) continue;
    ActionSummary summary;
    summary.id = id;
    summary.time = action->header.value("time", "");
    summary.action = action->header.value("action", "");
    const auto rows = action->header.find("rows");
    if (rows != action->header.end() && rows->is_array()) {
      for (const json& row : *rows) {
        if (row.is_object()) summary.rows.push_back({Text(row, "file"), Text(row, "virus")});
      }
    }
    for (const json& entry : action->entries) {
      const std::string op = entry.value("op", "");
      if (op == "undone") summary.undone = entry.value("complete", false) ? entry.value("time", "") : std::string();
      else if (op != "trashed") ++summary.changes;
    }
    history.push_back(std::move(summary));
  }
  return history;
}

}  // namespace korbu
