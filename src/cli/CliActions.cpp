#include "cli/CliActions.h"

#include <ostream>

#include "cli/ScanReport.h"
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

void RunRowAction(Action action, bool dryRun, DetectionList& rows, std::ostream& out) {
  if (action == Action::None) return;
  for (std::size_t i = 0; i < rows.Count(); ++i) rows.SetChecked(i, true);

  PreviewSink preview;
  ChangeSink& sink = dryRun ? static_cast<ChangeSink&>(preview) : ApplyChanges();
  const RowReporter report = [&](const RowResult& result) {
    out << DetectionLine(rows.Row(result.index)) << "\n";
    for (const PlannedChange& change : preview.TakeChanges()) {
      out << "  would " << DescribeChange(change) << "\n";
    }
    if (!result.handled) out << "  not handled: " << result.reason << "\n";
  };
  if (action == Action::Clean) {
    CleanRows(rows, sink, PendingMessages(), report);
  } else {
    DeleteRows(rows, sink, PendingMessages(), report);
  }
  out.flush();
}

}  // namespace korbu::cli
