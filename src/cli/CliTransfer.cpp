#include "cli/CliTransfer.h"

#include <ostream>

#include "cli/DisplayText.h"
#include "platform/Path.h"
#include "repair/JournalSink.h"

namespace korbu::cli {

ActionOutcome TransferRows(bool move, const platform::Folder& target, bool dryRun, DetectionList& rows,
                           std::ostream& out, const std::function<void(const ScanError&)>& onError) {
  ActionOutcome outcome;
  outcome.reasons.resize(rows.Count());
  outcome.changes.resize(rows.Count());
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    const DetectionRow& row = rows.Row(i);
    if (row.kind == DetectionKind::File && IsPending(row) && row.path != kStandardInputName) rows.SetChecked(i, true);
  }
  const std::string verb = move ? "move" : "copy";
  const auto journal = dryRun ? nullptr : RecordedChanges(verb, rows);
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    const DetectionRow& row = rows.Row(i);
    out << DetectionLine(row) << "\n";
    std::string& reason = outcome.reasons[i];
    std::vector<std::string>& changes = outcome.changes[i];
    if (!row.checked) {
      reason = "--" + verb + " acts on the files scanned, not on a running program, a registry value or standard input";
      out << "  not handled: " << reason << "\n";
      continue;
    }
    const std::string path = platform::FullPath(row.path);
    if (dryRun) {
      changes.push_back(verb + " into " + target.Path());
      out << "  would " << ReadableFileName(changes.back()) << "\n";
      continue;
    }
    const auto fail = [&](const std::string& why) {
      reason = why;
      if (onError) onError(ScanError{row.path, why});
    };
    const auto folder = platform::Folder::Open(platform::ExtractFilePath(path));
    if (!folder) {
      fail(folder.error().Context("its folder cannot be reached safely").reason);
      continue;
    }
    const std::string name = platform::ExtractFileName(path);
    const auto copied = journal->CopyInto(*folder, name, target);
    if (!copied) {
      fail(copied.error().reason);
      continue;
    }
    if (move) {
      if (const Status deleted = journal->DeleteSameFile(*folder, name, copied->source); !deleted) {
        changes.push_back("copied to " + copied->path);
        out << "  " << ReadableFileName(changes.back()) << "\n";
        fail("copied to " + copied->path + " but not removed: " + deleted.error().reason);
        continue;
      }
    }
    changes.push_back((move ? "moved to " : "copied to ") + copied->path);
    out << "  " << ReadableFileName(changes.back()) << "\n";
  }
  TellRecordedAction(journal.get(), out, outcome);
  out.flush();
  return outcome;
}

}  // namespace korbu::cli
