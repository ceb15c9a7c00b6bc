#include "cli/CliUndo.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/JsonText.h"
#include "repair/Undo.h"

namespace korbu::cli {
namespace {

const char* OutcomeText(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::Restored: return "restored";
    case UndoOutcome::AlreadyAsBefore: return "already as before";
    case UndoOutcome::LeftAlone: return "left alone";
    case UndoOutcome::Failed: return "failed";
  }
  return "failed";
}

}  // namespace

int PrintHistory(bool json, std::ostream& out) {
  const auto history = ActionHistory();
  if (json) {
    nlohmann::json actions = nlohmann::json::array();
    for (const ActionSummary& action : history) {
      nlohmann::json rows = nlohmann::json::array();
      for (const auto& row : action.rows) rows.push_back({{"file", ToUtf8Lossy(row.file)}, {"virus", ToUtf8Lossy(row.virus)}});
      actions.push_back({{"id", action.id},
                         {"time", action.time},
                         {"action", action.action},
                         {"rows", rows},
                         {"changes", action.changes},
                         {"undone", action.undone.empty() ? nlohmann::json() : nlohmann::json(action.undone)}});
    }
    out << nlohmann::json{{"actions", actions}}.dump(2) << "\n";
    return 0;
  }
  if (history.empty()) out << "No action has been recorded.\n";
  for (const ActionSummary& action : history) {
    out << action.id << "  " << action.time << "  " << action.action << ", " << action.rows.size() << " row(s), "
        << action.changes << " change(s)";
    if (!action.undone.empty()) out << ", undone " << action.undone;
    out << "\n";
    for (const auto& row : action.rows) out << "    " << row.file << ": " << row.virus << "\n";
  }
  return 0;
}

int RunUndo(const std::string& idOrLast, bool json, std::ostream& out, std::ostream& err) {
  const UndoReport report = UndoAction(idOrLast);
  if (!report.error.empty()) {
    err << "korbu-scan: " << report.error << "\n";
    return 2;
  }
  if (json) {
    nlohmann::json steps = nlohmann::json::array();
    for (const UndoStep& step : report.steps) {
      steps.push_back({{"object", ToUtf8Lossy(step.object)}, {"outcome", OutcomeText(step.outcome)}, {"note", step.note}});
    }
    out << nlohmann::json{{"id", report.id}, {"complete", report.Complete()}, {"steps", steps}}.dump(2) << "\n";
  } else {
    out << "Undoing action " << report.id << "\n";
    for (const UndoStep& step : report.steps) {
      out << "  " << OutcomeText(step.outcome) << ": " << step.object;
      if (!step.note.empty()) out << " (" << step.note << ")";
      out << "\n";
    }
    out << (report.Complete() ? "Everything the action changed is as it was before.\n"
                              : "Some changes were left as they are (see above).\n");
  }
  return report.Complete() ? 0 : 1;
}

}  // namespace korbu::cli
