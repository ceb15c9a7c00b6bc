#include "cli/ScanReport.h"

#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/JsonText.h"
#include "scan/ScanTexts.h"

namespace korbu::cli {
namespace {

// JSON strings must be UTF-8; names that are not keep their raw bytes beside.
void PutText(nlohmann::json& object, const char* key, const std::string& bytes) {
  if (IsValidUtf8(bytes)) {
    object[key] = bytes;
  } else {
    object[key] = ToUtf8Lossy(bytes);
    object[std::string(key) + "_base64"] = Base64(bytes);
  }
}

}  // namespace

std::string DetectionLine(const DetectionRow& row) {
  std::string line = row.fileName + ": " + row.virusName + " FOUND";
  if (!row.information.empty()) line += " (" + row.information + ")";
  return line;
}

void PrintEngineText(std::ostream& out, const EngineInfo& engine) {
  out << (engine.libraryLoaded ? "DLL loaded." : "DLL NOT loaded.") << "\n"
      << (engine.databaseLoaded ? "Database loaded." : "Database NOT loaded.") << "\n"
      << "Build: " << kBuildText << "\n"
      << "Engine Version: " << kEngineVersionText << "\n"
      << "Virus Signature: " << SignatureLabel(engine.signatureCount) << "\n"
      << "CVD Version: " << DatabaseVersionLabel(engine.mainVersion, engine.dailyVersion) << "\n"
      << "CVD Date Created: " << MainDateLabel(engine.mainDate) << " "
      << DailyDateLabel(engine.dailyDate) << "\n";
}

std::string JsonReport(const EngineInfo& engine, const DetectionList& rows, const ScanTotals& totals,
                       const std::string& action, const std::vector<std::string>& reasons) {
  nlohmann::json doc;
  nlohmann::json e;
  e["library_loaded"] = engine.libraryLoaded;
  e["database_loaded"] = engine.databaseLoaded;
  e["active"] = engine.active;
  e["signatures"] = engine.signatureCount;
  PutText(e, "main_version", engine.mainVersion);
  PutText(e, "daily_version", engine.dailyVersion);
  PutText(e, "main_date", engine.mainDate);
  PutText(e, "daily_date", engine.dailyDate);
  if (!engine.problem.empty()) PutText(e, "not_loaded_reason", engine.problem);
  doc["engine"] = e;
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    const DetectionRow& row = rows.Row(i);
    nlohmann::json item;
    PutText(item, "file", row.fileName);
    PutText(item, "virus", row.virusName);
    PutText(item, "information", row.information);
    if (i < reasons.size() && !reasons[i].empty()) PutText(item, "reason", reasons[i]);
    list.push_back(std::move(item));
  }
  doc["detections"] = std::move(list);
  doc["files_scanned"] = totals.filesScanned;
  doc["folders_scanned"] = totals.foldersScanned;
  if (!action.empty()) doc["action"] = action;
  return doc.dump(2) + "\n";
}

}  // namespace korbu::cli
