#include "cli/ScanReport.h"

#include <cmath>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <ostream>

#include "cli/DisplayText.h"
#include "cli/RowTexts.h"
#include "cli/JsonText.h"
#include "engine/ClamdScanner.h"
#include "detect/VariantTable.h"
#include "platform/LocalTime.h"
#include "scan/ScanTexts.h"

namespace korbu::cli {
namespace {

// What kept the engine from judging a whole file, in a reader's words.
std::string LimitText(const EngineLimitReached& limit) {
  const std::string value = std::to_string(limit.value);
  if (limit.name == "maxfilesize") return "the engine judges no more than " + value + " bytes of a file";
  if (limit.name == "maxfiles") return "the engine judges no more than " + value + " files of an archive";
  if (limit.name == "maxreclevel") return "the engine unpacks no more than " + value + " levels";
  if (limit.name == kStreamLimitName) return "clamd takes fewer than the file's " + value + " bytes (StreamMaxLength)";
  return "a limit of the engine: " + limit.name + " " + value;
}

}  // namespace

std::string DetectionLine(const DetectionRow& row) {
  const std::string name = RowFileName(row);
  std::string line = (row.IsRegistry() ? ReadableRegistryName(name) : ReadableFileName(name)) + ": " +
                     ReadableFileName(row.virusName) + " FOUND";
  const std::string information = RowInformation(row);
  if (!information.empty()) line += " (" + ReadableFileName(information) + ")";
  return line;
}

std::string ErrorLine(const ScanError& error) {
  return ReadableRowName(error.file) + ": " + ReadableFileName(error.reason) + " ERROR";
}

std::string OtherUsersProgramLine(const ScanError& error) {
  return ReadableRowName(error.file) + ": " + ReadableFileName(error.reason) + " (another user's program)";
}

std::string NotWholeLine(const NotScannedWhole& file) {
  return ReadableFileName(file.file) + ": NOT SCANNED WHOLE (" + LimitText(file.limit) + ")";
}

std::string ScanDateText(std::chrono::system_clock::time_point moment) {
  constexpr long long kEpochDifference = 11644473600LL;  // seconds 1601 -> 1970
  const long long seconds = std::chrono::duration_cast<std::chrono::seconds>(moment.time_since_epoch()).count();
  const auto local = platform::FileTimeToLocalTime((seconds + kEpochDifference) * 10000000LL);
  if (!local) return "unknown";
  char text[64];  // six numbers of at most eleven characters each, and their separators
  std::snprintf(text, sizeof text, "%04d:%02d:%02d %02d:%02d:%02d", local->year, local->month, local->day, local->hour,
                local->minute, local->second);
  return text;
}

std::string SummaryBlock(std::size_t detections, const ScanTotals& totals) {
  const auto whole = static_cast<long long>(totals.seconds);
  char text[512];  // the longest numbers of every line fit
  std::snprintf(text, sizeof text,
                "----------- SCAN SUMMARY -----------\n"
                "Detections: %zu\n"
                "Errors: %zu\n"
                "Not scanned whole: %zu\n"
                "Skipped: %lld over the size limit, %lld excluded, %lld pseudo file system folder(s), %lld unreadable\n"
                "Data read: %.2f MB\n"
                "From cache: %lld file(s), %lld more checked against new signatures only\n"
                "Not cacheable: %lld file(s), judged in full every time\n"
                "Time: %.3f sec (%lld m %lld s)\n",
                detections, totals.errors.size(), totals.notWhole.size(), totals.skippedOverLimit,
                totals.skippedExcluded, totals.skippedPseudo, totals.skippedUnreadable,
                static_cast<double>(totals.bytesRead) / (1024.0 * 1024.0), totals.fromCache, totals.rechecked,
                totals.notCacheable, totals.seconds, whole / 60, whole % 60);
  std::string block = text;
  if (!totals.startDate.empty()) block += "Start Date: " + totals.startDate + "\nEnd Date:   " + totals.endDate + "\n";
  if (totals.programsNotWhole > 0) {
    block += "Programs not scanned whole: " + std::to_string(totals.programsNotWhole) + " (listed with --verbose)\n";
  }
  if (!totals.otherUsersPrograms.empty()) {
    block += "Other users' programs not judged: " + std::to_string(totals.otherUsersPrograms.size()) +
             " (listed with --verbose)\n";
  }
  for (const std::string& warning : totals.warnings) block += ReadableFileName(warning) + "\n";
  return block;
}

void PrintEngineText(std::ostream& out, const EngineInfo& engine) {
  out << (engine.libraryLoaded ? "DLL loaded." : "DLL NOT loaded.") << "\n"
      << (engine.loaded ? "Database loaded." : "Database NOT loaded.") << "\n"
      << "Build: " << kBuildText << "\n"
      << "Engine Version: " << (engine.engineVersion.empty() ? kEngineVersionText : engine.engineVersion) << "\n"
      << "Virus Signature: " << SignatureLabel(engine.signatureCount) << "\n"
      << "CVD Version: " << DatabaseVersionLabel(engine.mainVersion, engine.dailyVersion) << "\n"
      << "CVD Date Created: " << MainDateLabel(engine.mainDate) << " "
      << DailyDateLabel(engine.dailyDate) << "\n";
}

std::string JsonReport(const EngineInfo& engine, const DetectionList& rows, const ScanTotals& totals,
                       const std::string& action, const std::vector<std::string>& reasons,
                       const std::vector<std::vector<std::string>>& changes, const std::string& actionId) {
  nlohmann::json doc;
  nlohmann::json e;
  e["library_loaded"] = engine.libraryLoaded;
  e["database_loaded"] = engine.loaded.has_value();
  e["active"] = engine.active;
  // The figure the text gives ("Virus Signature: N viruses"): the engine's and the own.
  e["signatures"] = std::uint64_t{engine.signatureCount} + kVariantCount;
  e["engine_signatures"] = engine.signatureCount;
  PutText(e, "main_version", engine.mainVersion);
  PutText(e, "daily_version", engine.dailyVersion);
  PutText(e, "main_date", engine.mainDate);
  PutText(e, "daily_date", engine.dailyDate);
  if (!engine.loaded) PutText(e, "not_loaded_reason", engine.loaded.Reason());
  if (!engine.engineVersion.empty()) PutText(e, "engine_version", engine.engineVersion);
  doc["engine"] = e;
  nlohmann::json list = nlohmann::json::array();
  for (std::size_t i = 0; i < rows.Count(); ++i) {
    const DetectionRow& row = rows.Row(i);
    nlohmann::json item;
    PutText(item, "file", RowFileName(row));
    PutText(item, "virus", row.virusName);
    PutText(item, "information", RowInformation(row));
    if (i < reasons.size() && !reasons[i].empty()) PutText(item, "reason", reasons[i]);
    if (!action.empty()) {
      nlohmann::json made = nlohmann::json::array();
      if (i < changes.size()) {
        for (const std::string& change : changes[i]) made.push_back(ToUtf8Lossy(change));
      }
      item["changes"] = std::move(made);
    }
    list.push_back(std::move(item));
  }
  doc["detections"] = std::move(list);
  doc["files_scanned"] = totals.filesScanned;
  doc["folders_scanned"] = totals.foldersScanned;
  const auto errorList = [](const std::vector<ScanError>& from) {
    nlohmann::json errors = nlohmann::json::array();
    for (const ScanError& error : from) {
      nlohmann::json item;
      PutText(item, "file", error.file);
      PutText(item, "error", error.reason);
      errors.push_back(std::move(item));
    }
    return errors;
  };
  doc["errors"] = errorList(totals.errors);
  doc["other_users_program_errors"] = errorList(totals.otherUsersPrograms);
  nlohmann::json notWhole = nlohmann::json::array();
  for (const NotScannedWhole& file : totals.notWhole) {
    nlohmann::json item;
    PutText(item, "file", file.file);
    item["limit"] = file.limit.name;
    item["limit_value"] = file.limit.value;
    notWhole.push_back(std::move(item));
  }
  doc["not_scanned_whole"] = std::move(notWhole);
  doc["programs_not_scanned_whole"] = totals.programsNotWhole;
  doc["skipped"] = {{"over_size_limit", totals.skippedOverLimit},
                    {"excluded", totals.skippedExcluded},
                    {"pseudo_file_system_folders", totals.skippedPseudo},
                    {"unreadable", totals.skippedUnreadable}};
  doc["data_read"] = totals.bytesRead;
  doc["cache"] = {{"used", totals.cacheUsed},
                  {"from_cache", totals.fromCache},
                  {"checked_against_new_signatures", totals.rechecked},
                  {"not_cacheable", totals.notCacheable}};
  if (!totals.startDate.empty()) {
    doc["start_date"] = totals.startDate;
    doc["end_date"] = totals.endDate;
  }
  doc["elapsed_seconds"] = std::round(totals.seconds * 1000.0) / 1000.0;
  doc["interrupted"] = totals.interrupted;
  nlohmann::json warnings = nlohmann::json::array();
  for (const std::string& warning : totals.warnings) warnings.push_back(ToUtf8Lossy(warning));
  doc["warnings"] = std::move(warnings);
  if (!action.empty()) doc["action"] = action;
  if (!actionId.empty()) doc["action_id"] = actionId;
  return doc.dump(2) + "\n";
}

}  // namespace korbu::cli
