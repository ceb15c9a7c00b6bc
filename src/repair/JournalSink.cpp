#include "repair/JournalSink.h"

#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/Trash.h"
#include "platform/WindowsSystemChoice.h"
#include "repair/Quarantine.h"
#include "repair/RegistryValues.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {

using nlohmann::json;

json RegistryData(const std::optional<platform::RegistryValue>& value) {
  if (!value) return nullptr;
  return json{{"type", value->type}, {"data", EscapeBytes(value->data)}};
}

json MaybeBytes(const std::optional<std::string>& bytes) {
  if (!bytes) return nullptr;
  return EscapeBytes(*bytes);
}

nlohmann::json Header(std::string_view action, const DetectionList& rows) {
  json list = json::array();
  for (const DetectionRow& row : rows.Rows()) {
    if (row.checked) list.push_back({{"file", EscapeBytes(row.fileName)}, {"virus", EscapeBytes(row.virusName)}});
  }
  return json{{"action", std::string(action)}, {"rows", std::move(list)}};
}

}  // namespace

JournalSink::JournalSink(std::string_view action, const DetectionList& rows, std::string actionsFolder,
                         ChangeSink& inner)
    : inner_(inner), journal_(std::move(actionsFolder), Header(action, rows)) {
  for (const DetectionRow& row : rows.Rows()) {
    if (row.checked) rows_.push_back(Row{row.fileName, row.virusName});
  }
}

bool JournalSink::Record(json entry) {
  entry["n"] = ++changes_;
  return journal_.Append(entry);
}

// The row being repaired: the one whose file or value a change names; the steps
// that follow belong to it.
void JournalSink::Follow(std::string_view object) {
  for (std::size_t i = 0; i < rows_.size(); ++i) {
    if (rows_[i].file == object) current_ = i;
  }
}

std::string JournalSink::CurrentVirus() const { return current_ < rows_.size() ? rows_[current_].virus : std::string(); }

void JournalSink::EndProcesses(const std::string& imagePath) {
  Follow(imagePath);
  inner_.EndProcesses(imagePath);
}

bool JournalSink::ClearAttributes(const std::string& path) {
  const auto info = platform::GetEntryInfo(path);
  if (!info) return inner_.ClearAttributes(path);
  if (!Record({{"op", "attributes"}, {"path", EscapeBytes(path)}, {"old", info->attributes}})) return false;
  return inner_.ClearAttributes(path);
}

bool JournalSink::DeleteFile(const std::string& path) {
  Follow(path);
  const auto info = platform::GetEntryInfo(path);
  // Only what can be kept is removed.
  if (!info || info->kind != platform::EntryKind::Regular || !journal_.Start()) return false;
  const std::string folder = InFolder(journal_.Folder(), kQuarantineFolderName);
  if (!platform::MakePrivateFolders(folder)) return false;
  const std::string item = std::to_string(++quarantined_) + ".kq";
  const auto kept = QuarantineFile(path, InFolder(folder, item), CurrentVirus());
  if (!kept) return false;
  if (!Record({{"op", "delete"},
               {"path", EscapeBytes(path)},
               {"quarantine", item},
               {"size", kept->size},
               {"sha256", kept->sha256},
               {"mode", kept->mode},
               {"virus", EscapeBytes(CurrentVirus())}})) {
    return false;
  }
  return inner_.DeleteFile(path);
}

bool JournalSink::MoveToTrash(const std::string& path) {
  if (!Record({{"op", "trash"}, {"path", EscapeBytes(path)}})) return false;
  if (&inner_ != &ApplyChanges()) return inner_.MoveToTrash(path);
  std::string trashedAt;
  bool moved = false;
  try {
    moved = platform::MoveToTrash(path, &trashedAt);
  } catch (...) {
    return false;  // out of memory: the item stays where it was
  }
  // Where it went is known only now; without this line undo reports the item
  // as one to fetch from the Trash by hand.
  if (moved) journal_.Append({{"op", "trashed"}, {"n", changes_}, {"path", EscapeBytes(path)}, {"at", EscapeBytes(trashedAt)}});
  return moved;
}

bool JournalSink::WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                                std::string_view value) {
  std::optional<std::string> old;
  if (const auto info = platform::GetEntryInfo(path)) {
    if (info->kind != platform::EntryKind::Regular) return false;
    old = platform::ReadWholeFile(path, platform::ShareMode::DenyNone);
    if (!old) return false;
  }
  const auto now = platform::WithIniEntry(old.value_or(std::string()), section, key, value);
  if (!now) return false;
  if (!Record({{"op", "ini"},
               {"path", EscapeBytes(path)},
               {"section", EscapeBytes(section)},
               {"key", EscapeBytes(key)},
               {"value", EscapeBytes(value)},
               {"old", MaybeBytes(old)},
               {"new", EscapeBytes(*now)}})) {
    return false;
  }
  return inner_.WriteIniValue(path, section, key, value);
}

// A registry record names its value exactly (key and name apart: a name may hold
// a backslash), the Wine prefix it belongs to, its data before and after as
// exact bytes, and the topmost key the change creates, which undo removes again
// once it is empty.
bool JournalSink::RecordRegistry(const RegistryValueLocation& value, const json& after) {
  // What cannot be read cannot be recorded, and so is not changed.
  if (RegistryValuePresence(value) == ValuePresence::Unknown) return false;
  json entry = {{"op", "registry"},
                {"location", EscapeBytes(RegistryLocationText(value))},
                {"key", EscapeBytes(value.keyPath)},
                {"name", EscapeBytes(value.valueName)},
                {"old", RegistryData(CurrentRegistryValue(value))},
                {"new", after}};
  if (const std::string prefix = platform::ChosenWinePrefix(); !prefix.empty()) entry["prefix"] = EscapeBytes(prefix);
  if (!after.is_null()) {
    if (const auto created = FirstMissingKey(value.root, value.keyPath)) entry["created"] = EscapeBytes(*created);
  }
  return Record(std::move(entry));
}

bool JournalSink::RecordRegistry(platform::RootKey root, std::string_view valuePath, const json& after) {
  const auto path = SplitValuePath(valuePath);
  if (!path) return false;
  return RecordRegistry(RegistryValueLocation{root, std::string(path->keyPath), std::string(path->valueName)}, after);
}

bool JournalSink::WriteRegString(platform::RootKey root, std::string_view valuePath, std::string_view text) {
  // Stored as the registry access stores it: wide, with its terminating zero.
  const platform::RegistryValue after{std::string(), platform::kRegSz, platform::RegistryStringData(text)};
  if (!RecordRegistry(root, valuePath, RegistryData(after))) return false;
  return inner_.WriteRegString(root, valuePath, text);
}

bool JournalSink::WriteRegDWord(platform::RootKey root, std::string_view valuePath, std::uint32_t value) {
  std::string data;
  for (int shift = 0; shift < 32; shift += 8) data += static_cast<char>((value >> shift) & 0xFFu);
  if (!RecordRegistry(root, valuePath, RegistryData(platform::RegistryValue{std::string(), platform::kRegDword, data}))) {
    return false;
  }
  return inner_.WriteRegDWord(root, valuePath, value);
}

bool JournalSink::DeleteRegValue(const RegistryValueLocation& value) {
  Follow(RegistryLocationText(value));
  // Nothing there: nothing to record, and the deletion fails as it would.
  if (!CurrentRegistryValue(value)) return inner_.DeleteRegValue(value);
  if (!RecordRegistry(value, nullptr)) return false;
  return inner_.DeleteRegValue(value);
}

bool JournalSink::ReplaceFileKeepingBackup(const std::string& path, const std::string& content,
                                           const std::string& backupPath) {
  const auto old = platform::ReadWholeFile(path, platform::ShareMode::DenyNone);
  if (!old) return false;
  if (!Record({{"op", "replace"},
               {"path", EscapeBytes(path)},
               {"backup", EscapeBytes(backupPath)},
               {"old", EscapeBytes(*old)},
               {"new", EscapeBytes(content)}})) {
    return false;
  }
  return inner_.ReplaceFileKeepingBackup(path, content, backupPath);
}

std::unique_ptr<JournalSink> RecordedChanges(std::string_view action, const DetectionList& rows) {
  return std::make_unique<JournalSink>(action, rows);
}

}  // namespace korbu
