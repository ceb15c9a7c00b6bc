#include "repair/Undo.h"

#include <algorithm>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/IniFile.h"
#include "platform/Path.h"
#include "platform/Registry.h"
#include "platform/Sha256.h"
#include "platform/SystemFactory.h"
#include "platform/WindowsSystem.h"
#include "repair/KeptFiles.h"
#include "repair/Quarantine.h"
#include "repair/RegistryValues.h"
#include "repair/RepairChanges.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {

constexpr const char* kChangedSince = "changed since the action: left as it is";
constexpr const char* kTaken = "something else is at its place now: left as it is";

// ---- Registry values ----

// Registry records are undone together, as a clean makes them: the keys they
// name read ahead in one reach per Wine prefix, the changes collected and made
// at the end in one more, then each read back. Steps whose change did not take
// effect are marked so at the end.
class RegistryUndo {
 public:
  explicit RegistryUndo(const std::vector<const RegistryChange*>& changes) {
    std::vector<std::pair<platform::WindowsSystemRef, std::vector<std::pair<platform::RootKey, std::string>>>> keys;
    for (const RegistryChange* change : changes) {
      const RegistryValueLocation* value = &change->value;
      const auto system = platform::WindowsSystemRef::Named(change->prefix, change->volume);
      auto group = std::find_if(keys.begin(), keys.end(), [&](const auto& g) { return g.first == system; });
      if (group == keys.end()) group = keys.insert(keys.end(), {system, {}});
      group->second.emplace_back(value->root, value->keyPath);
    }
    for (const auto& [system, list] : keys) {
      // Reading ahead only saves reaches of the registry: where it fails, each
      // record reads for itself, and its own step says what could not be read.
      if (const Status read = SystemOf(system).Prefetch(list); !read) continue;
    }
  }

  void Undo(const RegistryChange& change, std::vector<UndoStep>& steps) {
    const platform::WindowsSystem& system = SystemOf(platform::WindowsSystemRef::Named(change.prefix, change.volume));
    UndoStep step{RegistryLocationText(change.value), {}, UndoOutcome::Failed, std::string()};
    const RegistryValueLocation* value = &change.value;
    if (RegistryValuePresence(system, *value) == ValuePresence::Unknown) {
      step.note = "the registry cannot be reached";
      steps.push_back(step);
      return;
    }
    std::optional<RegistryData> now;
    if (const auto current = CurrentRegistryValue(system, *value)) now = RegistryData{current->type, current->data};
    if (now == change.before) {
      step.outcome = UndoOutcome::AlreadyAsBefore;
    } else if (now != change.after) {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = kChangedSince;
    } else {
      Status restored;
      if (change.before) {
        auto key = system.CreateKey(value->root, value->keyPath);
        restored = key ? key->SetValue(value->valueName, change.before->type, change.before->data) : Status(key.error());
      } else {
        auto key = system.OpenKey(value->root, value->keyPath, platform::KeyAccess::Write);
        restored = key ? key->DeleteValue(value->valueName) : Status(key.error());
      }
      if (restored) {
        step.outcome = UndoOutcome::Restored;
        Remember(system, steps.size(), *value, false);
      } else {
        step.note = "the registry value cannot be written: " + restored.error().reason;
      }
    }
    steps.push_back(step);
    const bool absentNow = step.outcome == UndoOutcome::AlreadyAsBefore || step.outcome == UndoOutcome::Restored;
    if (!change.before && absentNow) RemoveCreatedKeys(system, change, *value, steps);
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

  void Remember(const platform::WindowsSystem& system, std::size_t step, const RegistryValueLocation& value,
                bool key) {
    if (batch_.HasPending()) pending_.push_back({step, system.Identity().PrefixFolder(), value, key});
  }

  // The system a record names, opened once for the undo.
  const platform::WindowsSystem& SystemOf(const platform::WindowsSystemRef& ref) {
    for (const auto& [named, system] : systems_) {
      if (named == ref) return *system;
    }
    return *systems_.emplace_back(ref, platform::ResolveSystem(ref)).second;
  }

  // The keys the action created for the value, deepest first, each only while
  // it holds nothing.
  void RemoveCreatedKeys(const platform::WindowsSystem& system, const RegistryChange& change,
                         const RegistryValueLocation& value, std::vector<UndoStep>& steps) {
    if (!change.created) return;
    const std::string& created = *change.created;
    if (created.empty() || !(value.keyPath == created || value.keyPath.starts_with(created + "\\"))) return;
    auto keys = KeyAndParents(value.keyPath);
    std::erase_if(keys, [&](const std::string& key) { return key.size() < created.size(); });
    for (auto key = keys.rbegin(); key != keys.rend(); ++key) {
      UndoStep step{RootKeyName(value.root) + "\\" + *key, kCreatedKey, UndoOutcome::Restored, std::string()};
      const Status removed = system.DeleteEmptyKey(value.root, *key);
      if (!removed && removed.error().kind == ErrorKind::NotFound) continue;  // gone already
      if (!removed) {
        const bool stillUsed = removed.error().reason == kKeyNotEmpty;
        step.outcome = stillUsed ? UndoOutcome::LeftAlone : UndoOutcome::Failed;
        step.note = stillUsed ? kKeyInUse : "the key cannot be removed: " + removed.error().reason;
        steps.push_back(step);
        return;
      }
      Remember(system, steps.size(), RegistryValueLocation{value.root, *key, std::string()}, true);
      steps.push_back(step);
    }
  }

  static constexpr const char* kCreatedKey = "the key the action created";

  platform::RegistryBatch batch_;
  std::vector<Pending> pending_;
  std::vector<std::pair<platform::WindowsSystemRef, std::shared_ptr<platform::WindowsSystem>>> systems_;
};

// ---- Files: each reached through its folder, held open without following links ----

struct Place {
  platform::Folder folder;
  std::string name;
};

Expected<Place> HoldPlace(const std::string& path) {
  std::string folder = platform::ExtractFilePath(path);
  const std::string name = platform::ExtractFileName(path);
  if (folder.empty() || name.empty() || name == "." || name == "..") return Failure("the record is damaged");
  auto held = platform::Folder::Open(folder);
  if (!held) return held.error().Context("its folder cannot be reached safely");
  return Place{std::move(*held), name};
}

UndoStep Unreachable(UndoStep step, const Error& why) {
  step.outcome = UndoOutcome::LeftAlone;
  step.note = why.reason + ": left as it is";
  return step;
}

// The whole content of a small file at its place; empty when nothing is there,
// an error when something is there that cannot be read.
Expected<std::optional<std::string>> ContentAt(const Place& place, std::uint64_t maxBytes) {
  if (!place.folder.Entry(place.name)) return std::optional<std::string>();
  auto content = ReadRegularFile(place.folder, place.name, maxBytes);
  if (!content) return content.error();
  return std::optional<std::string>(std::move(content->bytes));
}

UndoStep Written(UndoStep step, const Status& written) {
  if (written) {
    step.outcome = UndoOutcome::Restored;
  } else {
    step.outcome = UndoOutcome::Failed;
    step.note = "the file cannot be written: " + written.error().reason;
  }
  return step;
}

UndoStep UndoIni(const IniChange& change) {
  UndoStep step{change.path, "[" + change.section + "] " + change.key, UndoOutcome::Failed, std::string()};
  const auto place = HoldPlace(change.path);
  if (!place) return Unreachable(step, place.error());
  const auto now = ContentAt(*place, platform::kMaxIniFileBytes);
  if (!now) return Unreachable(step, now.error());
  if (*now == change.before) {
    step.outcome = UndoOutcome::AlreadyAsBefore;
    return step;
  }
  if (*now == change.after) {
    if (change.before) return Written(step, place->folder.RewriteFile(place->name, *change.before));
    const auto status = place->folder.StatusOf(place->name);  // the action made the file: it goes again
    return Written(step, status ? place->folder.RemoveIfSame(place->name, *status) : Status(status.error()));
  }
  // Other lines of the file changed since; the entry alone goes back.
  const auto old = change.before ? platform::IniValue(*change.before, change.section, change.key) : std::nullopt;
  if (*now && old && platform::IniValue(**now, change.section, change.key) ==
                         platform::IniValue(change.after, change.section, change.key)) {
    if (const auto restored = platform::WithIniEntry(**now, change.section, change.key, *old)) {
      return Written(step, place->folder.RewriteFile(place->name, *restored));
    }
  }
  step.outcome = UndoOutcome::LeftAlone;
  step.note = kChangedSince;
  return step;
}

void UndoReplace(const ReplaceChange& change, std::vector<UndoStep>& steps) {
  UndoStep step{change.path, {}, UndoOutcome::Failed, std::string()};
  const auto place = HoldPlace(change.path);
  const auto now = place ? ContentAt(*place, kMaxReplacedFileBytes) : Expected<std::optional<std::string>>(place.error());
  if (!now) {
    steps.push_back(Unreachable(step, now.error()));
    return;
  }
  if (*now == change.before) {
    step.outcome = UndoOutcome::AlreadyAsBefore;
  } else if (*now != change.after) {
    step.outcome = UndoOutcome::LeftAlone;
    step.note = kChangedSince;
  } else {
    step = Written(step, place->folder.RewriteFile(place->name, change.before));
  }
  steps.push_back(step);
  // The copy the action made goes only once the file itself is back.
  if (change.backup.empty() || step.outcome == UndoOutcome::LeftAlone || step.outcome == UndoOutcome::Failed) return;
  UndoStep copy{change.backup, {}, UndoOutcome::AlreadyAsBefore, std::string()};
  const auto backup = HoldPlace(change.backup);
  if (!backup) {
    steps.push_back(Unreachable(copy, backup.error()));
    return;
  }
  auto kept = ReadRegularFile(backup->folder, backup->name, kMaxReplacedFileBytes);
  if (!backup->folder.Entry(backup->name)) {
    // gone already
  } else if (!kept || kept->bytes != change.before) {
    copy = {copy.object, {}, UndoOutcome::LeftAlone, kChangedSince};
  } else if (const Status removed = backup->folder.RemoveIfSame(backup->name, kept->status); removed) {
    copy.outcome = UndoOutcome::Restored;
  } else {
    copy = {copy.object, {}, UndoOutcome::Failed, "the copy the action made cannot be removed: " + removed.error().reason};
  }
  steps.push_back(copy);
}

// The file a delete removed, written back from the quarantine as a new file: its
// content first, then its owner, then its permission bits, all on the open file,
// and only then given its name, never in place of anything.
UndoStep UndoDelete(const DeleteChange& change, const Expected<platform::Folder>& quarantine) {
  UndoStep step{change.path, {}, UndoOutcome::Failed, std::string()};
  const auto place = HoldPlace(change.path);
  if (!place) return Unreachable(step, place.error());
  if (const auto there = place->folder.StatusOf(place->name)) {
    auto held = there->kind == platform::EntryKind::Regular ? place->folder.OpenRegular(place->name)
                                                             : Expected<platform::Folder::HeldFile>(Failure(kTaken));
    if (held && platform::Sha256OfFile(held->file) == change.sha256) {
      step.outcome = UndoOutcome::AlreadyAsBefore;
    } else {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = kTaken;
    }
    return step;
  }
  if (!quarantine) {
    step.note = "its quarantined copy cannot be used: " + quarantine.error().reason;
    return step;
  }
  auto file = place->folder.BeginFile(place->name);
  if (!file) {
    step.note = "it cannot be written back: " + file.error().reason;
    return step;
  }
  const Status copied = CopyFromQuarantine(*quarantine, change.quarantine, change.size, change.sha256, file->Content());
  if (!copied) {
    step.note = copied.error().reason;
    return step;
  }
  unsigned mode = change.ownership.mode & 07777u;
  std::string inPart;
  if (change.ownership.owner && change.ownership.group) {
    // Giving a file away clears its set-ID bits: the mode comes after.
    if (const Status owned = file->SetOwner(*change.ownership.owner, *change.ownership.group); !owned) {
      inPart = "its owner (user " + std::to_string(*change.ownership.owner) + ") could not be set back: " +
               owned.error().reason;
    }
  } else if ((mode & platform::kSetIdBits) != 0) {
    inPart = "its owner was not recorded";
  }
  // A set-user-ID or set-group-ID bit only ever comes back with its own owner.
  if (!inPart.empty() && (mode & platform::kSetIdBits) != 0) {
    mode &= ~platform::kSetIdBits;
    inPart += "; restored without its set-user-ID and set-group-ID bits";
  }
  if (const Status moded = file->SetMode(mode); !moded) {
    step.note = "its permissions cannot be set: " + moded.error().reason;
    return step;
  }
  if (const Status placed = file->Commit(); !placed) {
    if (placed.error().kind == ErrorKind::NameTaken) return {step.object, {}, UndoOutcome::LeftAlone, kTaken};
    step.note = "it cannot be written back: " + placed.error().reason;
    return step;
  }
  step.outcome = inPart.empty() ? UndoOutcome::Restored : UndoOutcome::RestoredInPart;
  step.note = inPart;
  return step;
}

// A copy the action made goes again while it still holds what was copied, and
// only once the file a move took it from is back.
UndoStep UndoCopy(const CopyChange& change, bool sourceBack) {
  UndoStep step{change.path, "the copy the action made", UndoOutcome::AlreadyAsBefore, std::string()};
  const auto place = HoldPlace(change.path);
  if (!place) return Unreachable(step, place.error());
  if (!place->folder.Entry(place->name)) return step;
  step.outcome = UndoOutcome::LeftAlone;
  if (!sourceBack) {
    step.note = "kept: the file it was moved from is not back";
    return step;
  }
  auto held = place->folder.OpenRegular(place->name);
  if (!held || platform::Sha256OfFile(held->file) != change.sha256) {
    step.note = kChangedSince;
    return step;
  }
  if (const Status removed = place->folder.RemoveIfSame(place->name, held->status); !removed) {
    step.outcome = UndoOutcome::Failed;
    step.note = "it cannot be removed: " + removed.error().reason;
    return step;
  }
  step.outcome = UndoOutcome::Restored;
  step.note = "removed";
  return step;
}

// The freedesktop.org Trash keeps an item at T/files/NAME and its record at
// T/info/NAME.trashinfo.
Status ForgetTrashRecord(const std::string& trashedAt) {
  const std::size_t files = trashedAt.rfind("/files/");
  if (files == std::string::npos) return Ok();
  const auto info = platform::Folder::Open(trashedAt.substr(0, files) + "/info");
  if (!info) return info.error();
  return info->DeleteFile(trashedAt.substr(files + 7) + ".trashinfo");
}

UndoStep UndoTrash(const TrashChange& change, const std::string& trashedAt) {
  UndoStep step{change.path, {}, UndoOutcome::Failed, std::string()};
  const auto place = HoldPlace(change.path);
  if (!place) return Unreachable(step, place.error());
  const auto trash = trashedAt.empty() ? Expected<Place>(Failure("where it went is not recorded")) : HoldPlace(trashedAt);
  const bool inTrash = trash && trash->folder.Entry(trash->name).has_value();
  if (place->folder.Entry(place->name)) {
    if (inTrash) {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = std::string(kTaken) + "; the item stays in the Trash at " + trashedAt;
    } else {
      step.outcome = UndoOutcome::AlreadyAsBefore;  // the move never happened
    }
    return step;
  }
  if (trashedAt.empty()) {
    step.note = "moved to the Trash, but where is not recorded: restore it from the Trash by hand";
  } else if (!trash) {
    step.note = "the Trash cannot be reached safely: " + trash.error().reason;
  } else if (!inTrash) {
    step.note = "it is no longer in the Trash at " + trashedAt;
  } else if (const Status moved = trash->folder.MoveTo(trash->name, place->folder, place->name)) {
    if (const Status forgot = ForgetTrashRecord(trashedAt); !forgot) {
      step.note = "its record stays in the Trash: " + forgot.error().reason;
    }
    step.outcome = UndoOutcome::Restored;
  } else if (moved.error().kind == ErrorKind::NameTaken) {
    step = {step.object, {}, UndoOutcome::LeftAlone, kTaken};
  } else {
    step.note = "it cannot be moved back from " + trashedAt + ": " + moved.error().reason;
  }
  return step;
}

UndoStep UndoAttributes(const AttributesChange& change) {
  UndoStep step{change.path, "attributes", UndoOutcome::AlreadyAsBefore, std::string()};
  if ((change.before & platform::kAttrReadOnly) == 0) return step;
  const auto place = HoldPlace(change.path);
  if (!place) return Unreachable(step, place.error());
  const auto info = place->folder.Entry(place->name);
  if (info && (info->attributes & platform::kAttrReadOnly) != 0) return step;
  if (!info) {
    step = {step.object, step.aspect, UndoOutcome::Failed, "the file is not at its place"};
  } else if (const Status set = place->folder.SetAttributes(place->name, info->attributes | platform::kAttrReadOnly)) {
    step.outcome = UndoOutcome::Restored;
  } else {
    step = {step.object, step.aspect, UndoOutcome::Failed, "the read-only flag cannot be set: " + set.error().reason};
  }
  return step;
}

// ---- Records that cannot be read ----

// What a record cut short was about, as far as its text tells: its path or
// registry location (escaped bytes, which JSON writes with only \\ and \" escaped).
std::string WhatTornRecordNames(const std::string& text) {
  for (const std::string_view field : {"\"path\":\"", "\"location\":\""}) {
    const std::size_t start = text.find(field);
    if (start == std::string::npos) continue;
    std::string escaped;
    for (std::size_t i = start + field.size(); i < text.size(); ++i) {
      if (text[i] == '"') {
        if (const auto bytes = UnescapeBytes(escaped)) return *bytes;
        break;
      }
      if (text[i] == '\\' && i + 1 < text.size()) ++i;
      escaped += text[i];
    }
  }
  return "a change recorded by the action";
}

// Files a cut-short record may have deleted: the quarantine items no record names.
Expected<std::vector<DeleteChange>> UnnamedQuarantineItems(const ActionRecord& action,
                                                           const platform::Folder& quarantine) {
  std::set<std::string> named;
  for (const JournalEntry& entry : action.entries) {
    if (const auto* deleted = std::get_if<DeleteChange>(&entry.record)) named.insert(deleted->quarantine);
  }
  std::vector<std::string> items;
  const Status listed = quarantine.List("*.kq", [&](const platform::EntryInfo& entry) {
    if (entry.kind == platform::EntryKind::Regular && named.count(entry.name) == 0) items.push_back(entry.name);
    return true;
  });
  if (!listed) return listed.error();
  std::sort(items.begin(), items.end());
  std::vector<DeleteChange> changes;
  for (const std::string& item : items) {
    if (const auto record = ReadQuarantineRecord(quarantine, item)) {
      changes.push_back({record->path, item, record->size, record->sha256, record->ownership, std::string()});
    }
  }
  return changes;
}

void UndoSteps(const ActionRecord& action, std::vector<UndoStep>& steps) {
  const auto quarantine = OwnSubfolder(action.folder, kQuarantineFolderName);
  for (const ActionRecord::Unreadable& line : action.unreadable) {
    steps.push_back({WhatTornRecordNames(line.text), {}, UndoOutcome::Uncertain,
                     line.reason + ": whether and how the action changed it cannot be told; check it by hand"});
  }
  if (!action.unreadable.empty() && quarantine) {
    const auto unnamed = UnnamedQuarantineItems(action, *quarantine);
    if (!unnamed) {
      steps.push_back({quarantine->Path(), "files the cut-short record may have deleted", UndoOutcome::Uncertain,
                       "the quarantine cannot be listed: " + unnamed.error().reason});
    }
    for (const DeleteChange& change : unnamed ? *unnamed : std::vector<DeleteChange>{}) {
      steps.push_back(UndoDelete(change, quarantine));
    }
  }
  std::map<int, std::string> trashedAt;
  std::set<int> notMade;
  for (const JournalEntry& entry : action.entries) {
    if (const auto* note = std::get_if<TrashedNote>(&entry.record)) trashedAt[note->change] = note->at;
    if (const auto* note = std::get_if<NotMadeNote>(&entry.record)) notMade.insert(note->change);
  }
  std::vector<const RegistryChange*> registryChanges;
  for (const JournalEntry& entry : action.entries) {
    const auto* change = std::get_if<RegistryChange>(&entry.record);
    if (change && notMade.count(entry.n) == 0) registryChanges.push_back(change);
  }
  // Whole files go back before any value is read: the values then read are
  // those of the files put back.
  for (auto it = action.entries.rbegin(); it != action.entries.rend(); ++it) {
    const auto* kept = std::get_if<KeptFilesChange>(&it->record);
    if (kept && notMade.count(it->n) == 0) steps.push_back(UndoKeptFiles(*kept, quarantine));
  }
  RegistryUndo registry(registryChanges);
  // Newest first; notes about changes undo nothing themselves.
  struct Undoer {
    std::vector<UndoStep>& steps;
    const Expected<platform::Folder>& quarantine;
    std::map<int, std::string>& trashedAt;
    RegistryUndo& registry;
    std::set<std::string>& notBack;  // files deleted that did not come back
    int n;
    void operator()(const RegistryChange& c) const { registry.Undo(c, steps); }
    void operator()(const IniChange& c) const { steps.push_back(UndoIni(c)); }
    void operator()(const ReplaceChange& c) const { UndoReplace(c, steps); }
    void operator()(const DeleteChange& c) const {
      steps.push_back(UndoDelete(c, quarantine));
      const UndoOutcome outcome = steps.back().outcome;
      if (outcome != UndoOutcome::Restored && outcome != UndoOutcome::RestoredInPart &&
          outcome != UndoOutcome::AlreadyAsBefore) {
        notBack.insert(c.path);
      }
    }
    void operator()(const CopyChange& c) const { steps.push_back(UndoCopy(c, notBack.count(c.from) == 0)); }
    void operator()(const TrashChange& c) const { steps.push_back(UndoTrash(c, trashedAt[n])); }
    void operator()(const AttributesChange& c) const { steps.push_back(UndoAttributes(c)); }
    void operator()(const TrashedNote&) const {}
    void operator()(const NotMadeNote&) const {}
    void operator()(const UndoneNote&) const {}
    void operator()(const KeptFilesChange&) const {}  // put back first, above
  };
  std::set<std::string> notBack;
  for (auto it = action.entries.rbegin(); it != action.entries.rend(); ++it) {
    if (notMade.count(it->n) == 0) {
      std::visit(Undoer{steps, quarantine, trashedAt, registry, notBack, it->n}, it->record);
    }
  }
  registry.Finish(steps);
}

// A mounted Windows volume that cannot be written without losing data (it is
// read-only, hibernated or holds a dirty hive) is left entirely as it is.
Status VolumesWritable(const ActionRecord& action) {
  std::set<std::string> volumes;
  for (const JournalEntry& entry : action.entries) {
    const auto* change = std::get_if<RegistryChange>(&entry.record);
    if (change && !change->volume.empty()) volumes.insert(change->volume);
  }
  for (const std::string& volume : volumes) {
    const auto system = platform::ResolveSystem(platform::WindowsSystemRef::Volume(volume));
    if (Status writable = system->Writable(); !writable) return writable;
  }
  return Ok();
}

std::string NoSuchAction(std::string_view idOrLast) {
  return idOrLast == "last" ? "no recorded action is left to undo"
                            : "no recorded action has the id " + std::string(idOrLast);
}

// Nothing recorded yet is no error; records that are there must be the user's own.
std::optional<Expected<ActionStore>> OpenStore(const std::string& actionsFolder) {
  if (actionsFolder.empty() || !platform::GetEntryInfo(actionsFolder)) return std::nullopt;
  return ActionStore::Open(actionsFolder, false);
}

}  // namespace

bool UndoReport::Complete() const {
  if (!error.empty()) return false;
  return std::all_of(steps.begin(), steps.end(), [](const UndoStep& step) {
    return step.outcome == UndoOutcome::Restored || step.outcome == UndoOutcome::AlreadyAsBefore;
  });
}

UndoReport UndoAction(std::string_view idOrLast, const std::string& actionsFolder) {
  UndoReport report;
  const auto store = OpenStore(actionsFolder);
  if (!store || !*store) {
    report.error = store ? store->error().reason : NoSuchAction(idOrLast);
    return report;
  }
  std::string id(idOrLast);
  if (idOrLast == "last") {
    id.clear();
    const auto ids = (*store)->Ids();
    if (!ids) {
      report.error = ids.error().reason;
      return report;
    }
    for (auto it = ids->rbegin(); it != ids->rend() && id.empty(); ++it) {
      const auto action = (*store)->Read(*it);
      if (!action) {
        report.error = action.error().reason;
        return report;
      }
      // A note that changed nothing (a program the guard refused) is nothing to undo.
      const bool changedNothing = action->entries.empty() && action->unreadable.empty();
      if (!action->UndoneCompletely() && !changedNothing) id = *it;
    }
    if (id.empty()) {
      report.error = NoSuchAction(idOrLast);
      return report;
    }
  }
  const auto lock = (*store)->Lock();
  if (!lock) {
    report.error = lock.error().reason;
    return report;
  }
  const auto action = (*store)->Read(id);
  if (!action) {
    report.error = action.error().reason;
    return report;
  }
  report.id = id;
  if (const Status writable = VolumesWritable(*action); !writable) {
    report.error = "nothing was undone: " + writable.error().reason;
    return report;
  }
  UndoSteps(*action, report.steps);
  const Status recorded = AppendToAction(*action, JournalEntry{0, UndoneNote{UtcNow(), report.Complete()}});
  if (!recorded) {
    report.steps.push_back({action->folder.PathOf(std::string(kJournalFileName)), "the record of this undo",
                            UndoOutcome::Failed, "it could not be written: " + recorded.error().reason});
  }
  return report;
}

Expected<std::vector<ActionSummary>> ActionHistory(const std::string& actionsFolder) {
  std::vector<ActionSummary> history;
  const auto store = OpenStore(actionsFolder);
  if (!store) return history;
  if (!*store) return store->error();
  const auto ids = (*store)->Ids();
  if (!ids) return ids.error();
  for (const std::string& id : *ids) {
    const auto action = (*store)->Read(id);
    if (!action && action.error().kind == ErrorKind::Untrusted) return action.error();
    if (!action) continue;  // no journal of ours: nothing to list
    ActionSummary summary{id, action->header.time, action->header.action, action->header.rows, 0,
                          static_cast<int>(action->unreadable.size()), std::string(), {}};
    std::vector<std::pair<int, std::string>> made;  // by change number
    for (const JournalEntry& entry : action->entries) {
      if (const auto* undone = std::get_if<UndoneNote>(&entry.record)) {
        summary.undone = undone->complete ? undone->time : std::string();
      } else if (const auto* notMade = std::get_if<NotMadeNote>(&entry.record)) {
        --summary.changes;
        std::erase_if(made, [&](const auto& change) { return change.first == notMade->change; });
      } else if (!IsNote(entry.record)) {
        ++summary.changes;
        made.emplace_back(entry.n, ToJson(entry).value("op", std::string()) + " " + ObjectOf(entry.record));
      }
    }
    for (auto& change : made) summary.made.push_back(std::move(change.second));
    history.push_back(std::move(summary));
  }
  return history;
}

}  // namespace korbu
