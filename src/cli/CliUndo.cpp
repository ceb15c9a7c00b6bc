#include "cli/CliUndo.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/DisplayText.h"
#include "cli/JsonText.h"
#include "repair/Undo.h"

namespace korbu::cli {
namespace {

const char* OutcomeText(UndoOutcome outcome) {
  switch (outcome) {
    case UndoOutcome::Restored: return "restored";
    case UndoOutcome::RestoredInPart: return "restored in part";
    case UndoOutcome::AlreadyAsBefore: return "already as before";
    case UndoOutcome::LeftAlone: return "left alone";
    case UndoOutcome::Failed: return "failed";
    case UndoOutcome::Uncertain: return "uncertain";
  }
  return "failed";
}

int Refuse(const std::string& why, std::ostream& err) {
  err << "korbu-scan: " << ReadableFileName(why) << "\n";
  return 2;
}

}  // namespace

int PrintHistory(bool json, std::ostream& out, std::ostream& err, const std::string& id) {
  auto history = ActionHistory();
  if (!history) return Refuse(history.error().reason, err);
  if (!id.empty()) {
    std::erase_if(*history, [&](const ActionSummary& action) { return action.id != id; });
    if (history->empty()) return Refuse("no recorded action " + id, err);
  }
  if (json) {
    nlohmann::json actions = nlohmann::json::array();
    for (const ActionSummary& action : *history) {
      nlohmann::json rows = nlohmann::json::array();
      for (const auto& row : action.rows) {
        nlohmann::json item;
        PutText(item, "file", row.file);
        PutText(item, "virus", row.virus);
        rows.push_back(std::move(item));
      }
      nlohmann::json item{{"id", action.id},
                          {"rows", std::move(rows)},
                          {"changes", action.changes},
                          {"damaged_records", action.unreadable},
                          {"undone", action.undone.empty() ? nlohmann::json() : nlohmann::json(action.undone)}};
      PutText(item, "time", action.time);
      PutText(item, "action", action.action);
      if (!id.empty()) {
        nlohmann::json made = nlohmann::json::array();
        for (const std::string& change : action.made) made.push_back(ToUtf8Lossy(change));
        item["made"] = std::move(made);
      }
      actions.push_back(std::move(item));
    }
    out << nlohmann::json{{"actions", actions}}.dump(2) << "\n";
    return 0;
  }
  if (history->empty()) out << "No action has been recorded.\n";
  for (const ActionSummary& action : *history) {
    out << action.id << "  " << ReadableFileName(action.time) << "  " << ReadableFileName(action.action) << ", "
        << action.rows.size() << " row(s), " << action.changes << " change(s)";
    if (action.unreadable > 0) out << ", " << action.unreadable << " record(s) cut short or damaged";
    if (!action.undone.empty()) out << ", undone " << ReadableFileName(action.undone);
    out << "\n";
    for (const auto& row : action.rows) {
      out << "    " << ReadableRowName(row.file) << ": " << ReadableFileName(row.virus) << "\n";
    }
    if (!id.empty()) {
      for (const std::string& change : action.made) out << "  " << ReadableFileName(change) << "\n";
    }
  }
  return 0;
}

int RunUndo(const std::string& idOrLast, bool json, std::ostream& out, std::ostream& err) {
  const UndoReport report = UndoAction(idOrLast);
  if (!report.error.empty()) return Refuse(report.error, err);
  if (json) {
    nlohmann::json steps = nlohmann::json::array();
    for (const UndoStep& step : report.steps) {
      nlohmann::json item{{"outcome", OutcomeText(step.outcome)}};
      PutText(item, "object", step.object);
      if (!step.aspect.empty()) PutText(item, "aspect", step.aspect);
      PutText(item, "note", step.note);
      steps.push_back(std::move(item));
    }
    out << nlohmann::json{{"id", report.id}, {"complete", report.Complete()}, {"steps", steps}}.dump(2) << "\n";
  } else {
    out << "Undoing action " << report.id << "\n";
    for (const UndoStep& step : report.steps) {
      out << "  " << OutcomeText(step.outcome) << ": " << ReadableRowName(step.object);
      if (!step.aspect.empty()) out << ", " << ReadableFileName(step.aspect);
      if (!step.note.empty()) out << " (" << ReadableFileName(step.note) << ")";
      out << "\n";
    }
    out << (report.Complete() ? "Everything the action changed is as it was before.\n"
                              : "Not everything the action changed is as it was before (see above).\n");
  }
  return report.Complete() ? 0 : 1;
}

}  // namespace korbu::cli
