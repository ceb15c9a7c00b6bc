#include "cli/CliActions.h"

#include <ostream>

#include "cli/DisplayText.h"
#include "cli/ScanReport.h"
#include "repair/JournalSink.h"
#include "repair/RowActions.h"

namespace korbu::cli {

std::string ActionName(Action action) {
  switch (action) {
    case Action::Clean: return "clean";
    case Action::Delete: return "delete";
    case Action::None: break;
  }
  return std::string();
}

std::vector<std::string> RunRowAction(Action action, bool dryRun, DetectionList& rows, std::ostream& out) {
  std::vector<std::string> reasons(rows.Count());
  if (action == Action::None) return reasons;
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);

  PreviewSink preview;
  const auto journal = dryRun ? nullptr : RecordedChanges(ActionName(action), rows);
  ChangeSink& sink = dryRun ? static_cast<ChangeSink&>(preview) : *journal;
  const RowReporter report = [&](const RowResult& result) {
    out << DetectionLine(rows.Row(result.index)) << "\n";
    for (const PlannedChange& change : preview.TakeChanges()) {
      out << "  would " << DescribeChange(change) << "\n";
    }
    if (!result.handled) {
      out << "  not handled: " << ReadableFileName(result.reason) << "\n";
      if (result.index < reasons.size()) reasons[result.index] = result.reason;
    }
  };
  if (action == Action::Clean) {
    CleanRows(rows, sink, PendingMessages(), report);
  } else {
    DeleteRows(rows, sink, PendingMessages(), report);
  }
  if (journal && !journal->Error().empty()) {
    out << "Changes refused: " << ReadableFileName(journal->Error()) << "\n";
  } else if (journal && journal->ChangesMade() > 0) {
    out << "Recorded as action " << journal->Id() << " (korbu-scan --undo " << journal->Id() << " reverses it)\n";
  }
  out.flush();
  return reasons;
}

}  // namespace korbu::cli
