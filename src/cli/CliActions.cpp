#include "cli/CliActions.h"

#include <optional>
#include <ostream>

#include "cli/DisplayText.h"
#include "cli/RowTexts.h"
#include "cli/ScanReport.h"
#include "cli/ToldChanges.h"
#include "repair/JournalSink.h"
#include "repair/RowActions.h"
#include "repair/VirusClean.h"

namespace korbu::cli {

std::string ActionName(Action action) {
  switch (action) {
    case Action::Clean: return "clean";
    case Action::Delete: return "delete";
    case Action::Move: return "move";
    case Action::Copy: return "copy";
    case Action::None: break;
  }
  return std::string();
}

ActionOutcome RunRowAction(Action action, bool dryRun, const std::shared_ptr<platform::WindowsSystem>& system,
                           DetectionList& rows, std::ostream& out,
                           const std::function<void(const ScanError&)>& onError) {
  ActionOutcome outcome;
  outcome.reasons.resize(rows.Count());
  outcome.changes.resize(rows.Count());
  std::vector<std::string>& reasons = outcome.reasons;
  if (action == Action::None) return outcome;
  // A row the action leaves: printed under the row in a dry run, else an error.
  const auto notHandled = [&](std::size_t index, const std::string& reason) {
    if (index < reasons.size()) reasons[index] = reason;
    if (dryRun) out << "  not handled: " << ReadableFileName(reason) << "\n";
    else if (onError) onError(ScanError{RowFileName(rows.Row(index)), reason});
  };
  // A system that cannot be written without losing data (a mounted Windows
  // volume that is read-only, hibernated or holds a dirty hive) is not touched.
  if (const Status writable = dryRun ? Ok() : system->Writable(); !writable) {
    for (std::size_t i = 0; i < rows.Count(); ++i) {
      out << DetectionLine(rows.Row(i)) << "\n";
      notHandled(i, "nothing was changed: " + writable.error().reason);
    }
    out << "Changes refused: " << ReadableFileName(writable.error().reason) << "\n";
    return outcome;
  }
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    // Standard input's row names no file; a file that happens to be called so
    // must not pay for it.
    if (!rows.Row(i).IsRegistry() && rows.Row(i).path == kStandardInputName) {
      out << DetectionLine(rows.Row(i)) << "\n";
      notHandled(i, "standard input is no file: there is nothing to clean or delete");
      continue;
    }
    rows.SetChecked(i, true);
  }

  PreviewSink preview;
  const auto journal = dryRun ? nullptr : RecordedChanges(ActionName(action), rows);
  // A real action tells each change it made as the dry run tells what it would make.
  std::optional<ToldChanges> told;
  if (journal) told.emplace(*journal);
  ChangeSink& sink = dryRun ? static_cast<ChangeSink&>(preview) : *told;
  const RowReporter report = [&](const RowResult& result) {
    out << DetectionLine(rows.Row(result.index)) << "\n";
    std::vector<std::string> changes;
    if (told) {
      changes = told->TakeMade();
    } else {
      for (const PlannedChange& change : preview.TakeChanges()) changes.push_back(DescribeChange(change));
    }
    for (const std::string& change : changes) out << (told ? "  " : "  would ") << ReadableFileName(change) << "\n";
    if (result.index < outcome.changes.size()) outcome.changes[result.index] = std::move(changes);
    if (result.handled) return;
    // A row whose changes the journal refused was not even tried: that is the
    // cause, not what its object looks like now. Clean tries only the family's rows.
    const bool tried = action == Action::Delete || IsBrontokVerdict(rows.Row(result.index).virusName);
    if (tried && journal && !journal->Error().empty()) {
      notHandled(result.index, "changes refused: " + journal->Error());
    } else {
      notHandled(result.index, result.reason);
    }
  };
  if (action == Action::Clean) {
    CleanRows(rows, system, sink, PendingMessages(), report);
  } else {
    DeleteRows(rows, system, sink, PendingMessages(), report);
  }
  TellRecordedAction(journal.get(), out, outcome);
  out.flush();
  return outcome;
}

void TellRecordedAction(JournalSink* journal, std::ostream& out, ActionOutcome& outcome) {
  if (journal == nullptr) return;
  // The records are on the disk before the user is told of them; a failure to
  // force them is the journal's error, told below; records of an action that
  // changed nothing that stay are said.
  const Status finished = journal->Finish();
  if (!journal->Error().empty()) {
    out << "Changes refused: " << ReadableFileName(journal->Error()) << "\n";
  } else if (!finished) {
    out << ReadableFileName(finished.error().reason) << "\n";
  }
  // An action that changed nothing has no record; one refused part way has one
  // for what it changed before.
  if (journal->ChangesMade() > 0) {
    outcome.actionId = journal->Id();
    out << "Recorded as action " << journal->Id() << " (korbu-scan --undo " << journal->Id() << " reverses it)\n";
  }
}

}  // namespace korbu::cli
