#include "repair/KeptFiles.h"

#include <algorithm>
#include <optional>

#include "platform/FileExtras.h"
#include "platform/Path.h"
#include "platform/Sha256.h"
#include "repair/Quarantine.h"

namespace korbu {
namespace {

// The SHA-256 of a regular file at its name; empty when nothing is there, an
// error when something is there that cannot be read as one.
Expected<std::optional<std::string>> Sha256At(const platform::Folder& folder, const std::string& name) {
  if (!folder.Entry(name)) return std::optional<std::string>();
  auto held = folder.OpenRegular(name);
  if (!held) return held.error();
  auto digest = platform::Sha256OfFile(held->file);
  if (!digest) return Failure("it cannot be read");
  return std::optional<std::string>(std::move(*digest));
}

// A kept file written back in place of what bears its name, atomically: its
// content checked against the record, its owner and permission bits from the
// item, what the file system keeps beside them from the file it replaces.
Status PutBack(const platform::Folder& folder, const KeptFile& kept, const platform::Folder& quarantine) {
  auto record = ReadQuarantineRecord(quarantine, kept.item);
  if (!record) return record.error();
  platform::FileExtras extras;
  if (folder.Entry(kept.name)) {
    auto now = platform::ReadFileExtras(folder, kept.name);
    if (!now) return now.error();
    extras = std::move(*now);
  }
  auto file = folder.BeginFile(kept.name);
  if (!file) return file.error();
  if (Status copied = CopyFromQuarantine(quarantine, kept.item, kept.size, kept.sha256, file->Content()); !copied) {
    return copied;
  }
  if (record->ownership.owner && record->ownership.group) {
    // Where the file system has no owners to give (FAT, NTFS without a user
    // mapping) the file stays the writer's, as the file it replaces was.
    if (Status owned = file->GiveOwnerIfPermitted(*record->ownership.owner, *record->ownership.group); !owned) {
      return owned;
    }
  }
  if (Status moded = file->SetMode(record->ownership.mode & 0777u); !moded) return moded;
  if (Status placed = file->CommitReplacing(); !placed) return placed;
  return platform::GiveFileExtras(folder, kept.name, extras);
}

}  // namespace

Expected<KeptFilesChange> KeepReplacedFiles(const platform::WholeFileReplacement& replacement,
                                            const platform::Folder& quarantine, int& counter, std::string volume) {
  KeptFilesChange change{replacement.folder.PathOf(replacement.name), std::move(volume), {}, replacement.writtenSize,
                         replacement.writtenSha256};
  std::vector<std::string> names{replacement.name};
  names.insert(names.end(), replacement.beside.begin(), replacement.beside.end());
  // Nothing half kept stays behind; a copy that cannot be removed is named.
  auto fail = [&](Error error) {
    for (const KeptFile& file : change.files) {
      if (Status gone = quarantine.DeleteFile(file.item); !gone)
        error.reason += "; " + quarantine.PathOf(file.item) + " stays: " + gone.error().reason;
    }
    return error;
  };
  for (const std::string& name : names) {
    const std::string path = replacement.folder.PathOf(name);
    auto held = replacement.folder.OpenRegular(name);
    if (!held) return fail(held.error().Context("cannot keep " + path));
    const std::string item = std::to_string(++counter) + ".kept";
    auto kept = QuarantineFile(*held, path, quarantine, item, {});
    if (!kept) return fail(kept.error().Context("cannot keep " + path));
    change.files.push_back({name, item, kept->size, kept->sha256});
    const auto read = std::find_if(replacement.readAs.begin(), replacement.readAs.end(),
                                   [&](const auto& entry) { return entry.first == name; });
    if (read != replacement.readAs.end() && read->second != kept->sha256) {
      return fail(Failure(path + " changed since it was read: it is not replaced"));
    }
  }
  return change;
}

UndoStep UndoKeptFiles(const KeptFilesChange& change, const Expected<platform::Folder>& quarantine) {
  UndoStep step{change.path, "the whole file and its logs", UndoOutcome::Failed, std::string()};
  auto place = platform::OpenParent(change.path);
  if (!place || change.files.empty() || change.files.front().name != place->second) {
    step.outcome = UndoOutcome::LeftAlone;
    step.note = (place ? std::string("the record is damaged") : place.error().reason) + ": left as it is";
    return step;
  }
  const platform::Folder& folder = place->first;
  bool asBefore = true;
  std::optional<std::string> replacedNow;
  for (const KeptFile& file : change.files) {
    auto now = Sha256At(folder, file.name);
    if (!now) {
      step.outcome = UndoOutcome::LeftAlone;
      step.note = now.error().reason + " (" + folder.PathOf(file.name) + "): left as it is";
      return step;
    }
    if (&file == &change.files.front()) replacedNow = *now;
    asBefore = asBefore && *now == file.sha256;
  }
  if (asBefore) {
    step.outcome = UndoOutcome::AlreadyAsBefore;
    return step;
  }
  if (replacedNow != change.writtenSha256) {
    step.outcome = UndoOutcome::LeftAlone;
    step.note = "changed since the action wrote it: its values are set back one by one instead, and the files as "
                "they were stay kept in " +
                (quarantine ? quarantine->Path() : std::string("the action's quarantine"));
    return step;
  }
  if (!quarantine) {
    step.note = "the kept files cannot be used: " + quarantine.error().reason;
    return step;
  }
  // The logs first: until the file itself is back, it is the clean file the
  // action wrote, which Windows reads without them.
  for (auto file = change.files.rbegin(); file != change.files.rend(); ++file) {
    auto now = Sha256At(folder, file->name);
    if (now && *now == file->sha256) continue;
    if (Status back = PutBack(folder, *file, *quarantine); !back) {
      step.note = folder.PathOf(file->name) + " cannot be put back: " + back.error().reason;
      return step;
    }
  }
  step.outcome = UndoOutcome::Restored;
  // The copies are only space once the files are back: one left over is said, not a failure.
  for (const KeptFile& file : change.files) {
    if (Status gone = quarantine->DeleteFile(file.item); !gone)
      step.note = "its kept copy " + quarantine->PathOf(file.item) + " stays: " + gone.error().reason;
  }
  return step;
}

}  // namespace korbu
