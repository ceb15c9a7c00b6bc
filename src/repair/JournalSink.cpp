#include "repair/JournalSink.h"

#include <new>

#include "platform/AsciiCase.h"
#include "platform/IniFile.h"
#include "platform/Sha256.h"
#include "repair/CheckedCopy.h"
#include "platform/Path.h"
#include "repair/KeptFiles.h"
#include "repair/Quarantine.h"
#include "repair/RegistryValues.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {

std::optional<RegistryData> DataOf(const std::optional<platform::RegistryValue>& value) {
  if (!value) return std::nullopt;
  return RegistryData{value->type, value->data};
}

ActionHeader Header(std::string_view action, const DetectionList& rows) {
  ActionHeader header{{}, {}, std::string(action), {}};
  for (const DetectionRow& row : rows.Rows()) {
    // The rows as the user saw them, for the history.
    if (row.checked) header.rows.push_back({row.IsRegistry() ? RegistryLocationText(row.value) : row.path, row.virusName});
  }
  return header;
}

// A value as the rows are looked up by it: key and name apart, letter case ignored.
std::tuple<platform::RootKey, std::string, std::string> ValueKey(const RegistryValueLocation& value) {
  return {value.root, platform::AsciiLowered(value.keyPath), platform::AsciiLowered(value.valueName)};
}

}  // namespace

JournalSink::JournalSink(std::string_view action, const DetectionList& rows, std::string actionsFolder,
                         ChangeSink& inner)
    : inner_(inner),
      journal_(std::move(actionsFolder), Header(action, rows)),
      keeper_([this](const platform::WholeFileReplacement& replacement) { return KeepWholeFiles(replacement); }) {
  for (const DetectionRow& row : rows.Rows()) {
    if (!row.checked) continue;
    if (row.IsRegistry()) {
      rowOfValue_[ValueKey(row.value)] = rows_.size();
    } else {
      // A file row is followed by the path its changes name.
      rowOfFile_[platform::FullPath(row.path)] = rows_.size();
    }
    rows_.push_back({std::string(), row.virusName});
  }
}

// An action that changed nothing leaves no record; Finish said what stays.
JournalSink::~JournalSink() {
  if (made_ == 0) {
    [[maybe_unused]] const Status discarded = journal_.Discard();
  }
}

Status JournalSink::Finish() {
  if (made_ == 0) return journal_.Discard();
  if (!journal_.Finish()) return Refused();
  return Ok();
}

bool JournalSink::Record(JournalRecord record) {
  return journal_.Append(JournalEntry{++changes_, std::move(record)});
}

korbu::Error JournalSink::Refused() const { return Failure("changes refused: " + journal_.Error()); }

// Counts a change made; one refused at once is noted as such, so that its undo
// does not look for what never happened.
template <typename Result>
Result JournalSink::Made(Result result) {
  if (result) {
    ++made_;
  } else {
    NotMade();
  }
  return result;
}

void JournalSink::NotMade() { journal_.Append(JournalEntry{0, NotMadeNote{changes_}}); }

// The row being repaired: the one whose file or value a change names; the steps
// that follow belong to it.
void JournalSink::Follow(const std::string& path) {
  // The last row of that name, as a walk over every row would find it.
  if (const auto row = rowOfFile_.find(path); row != rowOfFile_.end()) current_ = row->second;
}

void JournalSink::Follow(const RegistryValueLocation& value) {
  if (const auto row = rowOfValue_.find(ValueKey(value)); row != rowOfValue_.end()) current_ = row->second;
}

std::string JournalSink::CurrentVirus() const { return current_ < rows_.size() ? rows_[current_].virus : std::string(); }

Status JournalSink::EndProcesses(const std::string& imagePath) {
  Follow(platform::FullPath(imagePath));
  return inner_.EndProcesses(imagePath);
}

Status JournalSink::ClearAttributes(const platform::Folder& folder, const std::string& name) {
  const auto info = folder.Entry(name);
  // Nothing there, it fails as it would; nothing read-only, it changes nothing
  // an undo would set back.
  if (!info || (info->attributes & platform::kAttrReadOnly) == 0) return inner_.ClearAttributes(folder, name);
  if (!Record(AttributesChange{folder.PathOf(name), info->attributes})) return Refused();
  return Made(inner_.ClearAttributes(folder, name));
}

Status JournalSink::DeleteFile(const platform::Folder& folder, const std::string& name) {
  return DeleteHeld(folder, name, nullptr);
}

Status JournalSink::DeleteSameFile(const platform::Folder& folder, const std::string& name,
                                   const platform::FileStatus& expected) {
  return DeleteHeld(folder, name, &expected);
}

Status JournalSink::DeleteHeld(const platform::Folder& folder, const std::string& name,
                               const platform::FileStatus* expected) {
  const std::string path = folder.PathOf(name);
  Follow(path);
  // Only what can be kept is removed, and only the very file that was kept.
  auto held = folder.OpenRegular(name);
  if (!held) return held.error().Context("could not be quarantined");
  if (expected != nullptr && !held->status.SameFile(*expected)) {
    return Failure("the file was replaced before it could be quarantined");
  }
  auto quarantine = journal_.Quarantine();
  if (!journal_.Error().empty()) return Refused();
  if (!quarantine) return quarantine.error().Context("could not be quarantined");
  const std::string item = std::to_string(++quarantined_) + ".kq";
  auto kept = [&]() -> Expected<QuarantinedFile> {
    try {
      return QuarantineFile(*held, path, *quarantine, item, CurrentVirus());
    } catch (const std::bad_alloc&) {
      return Failure("out of memory");
    }
  }();
  if (!kept) return kept.error().Context("could not be quarantined");
  if (!Record(DeleteChange{path, item, kept->size, kept->sha256, kept->ownership, CurrentVirus()})) return Refused();
  const auto now = folder.StatusOf(name);
  if (!now || !now->SameFile(held->status)) {
    NotMade();
    return Failure("the file was replaced while it was being quarantined");
  }
  return Made(inner_.DeleteFile(folder, name));
}

Expected<std::string> JournalSink::MoveToTrash(const platform::Folder& folder, const std::string& name) {
  const std::string path = folder.PathOf(name);
  if (!Record(TrashChange{path})) return Refused();
  auto at = Made(inner_.MoveToTrash(folder, name));
  // Where it went is known only now; without this line undo reports the item
  // as one to fetch from the Trash by hand.
  if (at && !at->empty()) journal_.Append(JournalEntry{0, TrashedNote{changes_, path, *at}});
  return at;
}

// Kept beside the journal as the quarantine keeps files, and recorded before the
// replacement is made; what cannot be kept is not replaced.
Status JournalSink::KeepWholeFiles(const platform::WholeFileReplacement& replacement) {
  auto quarantine = journal_.Quarantine();
  if (!journal_.Error().empty()) return Refused();
  if (!quarantine) return quarantine.error().Context("the files it replaces could not be kept");
  auto kept = KeepReplacedFiles(replacement, *quarantine, kept_, volume_);
  if (!kept) return kept.error();
  if (!Record(std::move(*kept))) return Refused();
  return Ok();
}

Expected<JournalSink::Copied> JournalSink::CopyInto(const platform::Folder& folder, const std::string& name,
                                                    const platform::Folder& target) {
  const std::string path = folder.PathOf(name);
  Follow(path);
  auto held = folder.OpenRegular(name);
  if (!held) return held.error().Context("could not be copied");
  const auto sha256 = platform::Sha256OfFile(held->file);
  if (!sha256) return Failure("could not be copied: it cannot be read");
  constexpr int kMaxSuffix = 999;
  for (int n = 0; n <= kMaxSuffix; ++n) {
    std::string candidate = name;
    if (n > 0) candidate += "." + std::string(n < 10 ? "00" : n < 100 ? "0" : "") + std::to_string(n);
    if (target.Entry(candidate)) continue;
    if (!Record(CopyChange{target.PathOf(candidate), path, held->status.size, *sha256})) return Refused();
    auto copy = target.BeginFile(candidate);
    if (!copy) {
      NotMade();
      return copy.error().Context("could not be copied");
    }
    Status done = copy->SetMode(0600);
    if (done) done = CopyCheckedContent(held->file, held->status.size, *sha256, copy->Content());
    if (done) done = copy->Commit();
    if (!done) NotMade();
    if (!done && done.error().kind == ErrorKind::NameTaken) continue;  // taken meanwhile
    if (!done) return done.error().Context("could not be copied");
    ++made_;
    return Copied{target.PathOf(candidate), held->status};
  }
  return Failure("could not be copied: " + name + " and its names up to ." + std::to_string(kMaxSuffix) +
                 " are taken in " + target.Path());
}

Status JournalSink::WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                                  std::string_view key, std::string_view value) {
  std::optional<std::string> old;
  if (folder.Entry(name)) {
    auto content = ReadRegularFile(folder, name, platform::kMaxIniFileBytes);
    if (!content) return content.error();
    old = std::move(content->bytes);
  }
  const auto now = platform::WithIniEntry(old.value_or(std::string()), section, key, value);
  if (!now) return Failure("the entry cannot be written as one line of an INI file");
  if (!Record(IniChange{folder.PathOf(name), std::string(section), std::string(key), std::string(value), old, *now})) {
    return Refused();
  }
  return Made(inner_.WriteIniValue(folder, name, section, key, value));
}

Status JournalSink::ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name,
                                             const std::string& content, const std::string& backupName) {
  auto old = ReadRegularFile(folder, name, kMaxReplacedFileBytes);
  if (!old) return old.error();
  if (!Record(ReplaceChange{folder.PathOf(name), folder.PathOf(backupName), std::move(old->bytes), content})) {
    return Refused();
  }
  return Made(inner_.ReplaceFileKeepingBackup(folder, name, content, backupName));
}

// A registry record names its value exactly (key and name apart: a name may hold
// a backslash), the Wine prefix or mounted Windows volume it belongs to, its data
// before and after as exact bytes, and the topmost key the change creates, which
// undo removes again once it is empty.
Status JournalSink::RecordRegistry(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                   std::optional<RegistryData> after) {
  // What cannot be read cannot be recorded, and so is not changed.
  if (RegistryValuePresence(system, value) == ValuePresence::Unknown) {
    return Failure("its current data cannot be read to be recorded");
  }
  const bool creates = after.has_value();
  const platform::WindowsSystemRef identity = system.Identity();
  // The hive files a write to a volume replaces are kept as that volume's.
  volume_ = identity.VolumeFolder();
  const bool recorded =
      Record(RegistryChange{value, DataOf(CurrentRegistryValue(system, value)), std::move(after), identity.PrefixFolder(),
                            identity.VolumeFolder(),
                            creates ? FirstMissingKey(system, value.root, value.keyPath) : std::nullopt});
  if (!recorded) return Refused();
  return Ok();
}

Status JournalSink::WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                   std::string_view text) {
  // Stored as the registry access stores it: wide, with its terminating zero.
  const Status recorded =
      RecordRegistry(system, value, RegistryData{platform::kRegSz, platform::RegistryStringData(text)});
  if (!recorded) return recorded;
  return Made(inner_.WriteRegString(system, value, text));
}

Status JournalSink::WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                  std::uint32_t data) {
  const Status recorded = RecordRegistry(system, value, RegistryData{platform::kRegDword, DwordData(data)});
  if (!recorded) return recorded;
  return Made(inner_.WriteRegDWord(system, value, data));
}

Status JournalSink::DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) {
  Follow(value);
  // Nothing there: nothing to record, and the deletion fails as it would.
  if (!CurrentRegistryValue(system, value)) return inner_.DeleteRegValue(system, value);
  const Status recorded = RecordRegistry(system, value, std::nullopt);
  if (!recorded) return recorded;
  return Made(inner_.DeleteRegValue(system, value));
}

std::unique_ptr<JournalSink> RecordedChanges(std::string_view action, const DetectionList& rows) {
  return std::make_unique<JournalSink>(action, rows);
}

}  // namespace korbu
