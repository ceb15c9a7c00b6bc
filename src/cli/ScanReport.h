#pragma once
// What korbu-scan prints: the engine's state, the detections and the summary, as
// text lines or as one JSON document.

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

#include "engine/VirusClamAV.h"
#include "scan/DetectionList.h"

namespace korbu::cli {

/// "FILE: VIRUS FOUND", with " (INFORMATION)" when the row has one; the name
/// made readable (see DisplayText.h).
std::string DetectionLine(const DetectionRow& row);

/// The engine lines of the text output.
void PrintEngineText(std::ostream& out, const EngineInfo& engine);

/// A file or folder that could not be scanned, and why.
struct ScanError {
  std::string file;
  std::string reason;
};

/// A file that came out clean although the engine could not judge all of it.
struct NotScannedWhole {
  std::string file;
  EngineLimitReached limit;
};

struct ScanTotals {
  std::int32_t filesScanned = 0;
  std::int32_t foldersScanned = 0;
  std::uint64_t bytesRead = 0;  // bytes the verdicts of the PATHs read (none from the cache)
  double seconds = 0;
  std::string startDate;           // local time as ScanDateText writes it
  std::string endDate;
  bool cacheUsed = false;          // the verdict cache took part
  long long fromCache = 0;         // files found clean in the verdict cache
  long long rechecked = 0;         // of those clean before a database update, judged against the added signatures
  long long notCacheable = 0;      // judged in full: on a volume whose verdicts are never kept
  bool interrupted = false;
  long long skippedOverLimit = 0;  // files over --max-filesize
  long long skippedExcluded = 0;   // files and folders the patterns excluded
  long long skippedPseudo = 0;     // folders of made-up file systems (proc, sysfs, devices)
  long long skippedUnreadable = 0; // files that could not be opened (each an error too)
  std::vector<std::string> warnings;  // lines the summary ends with: what makes a clean result weaker
  std::vector<ScanError> errors;
  // About other users' running programs: reported, but no error of the caller's scan.
  std::vector<ScanError> otherUsersPrograms;
  std::vector<NotScannedWhole> notWhole;  // of the PATHs
  long long programsNotWhole = 0;         // programs of the memory and registry phases (often big, rarely a worm)
};

/// "FILE: REASON ERROR", the line of an error.
std::string ErrorLine(const ScanError& error);

/// "FILE: REASON (another user's program)", the line of an error about a running
/// program of another user.
std::string OtherUsersProgramLine(const ScanError& error);

/// "FILE: NOT SCANNED WHOLE (WHY)", the line of a file the engine could not judge whole.
std::string NotWholeLine(const NotScannedWhole& file);

/// A moment in local time as clamscan's summary writes it: "2026:12:10 11:23:58".
std::string ScanDateText(std::chrono::system_clock::time_point moment);

/// The line a log file gets before each run, apart from the one before it.
inline constexpr const char* kLogSeparator =
    "-------------------------------------------------------------------------------";

/// The summary block that ends the text report.
std::string SummaryBlock(std::size_t detections, const ScanTotals& totals);

/// The whole JSON document. action is "clean", "delete" or empty for none;
/// by row index, reasons why the action left a row pending (its "reason" field)
/// and the changes it made for the row ("changes"); actionId names its record.
std::string JsonReport(const EngineInfo& engine, const DetectionList& rows, const ScanTotals& totals,
                       const std::string& action, const std::vector<std::string>& reasons = {},
                       const std::vector<std::vector<std::string>>& changes = {}, const std::string& actionId = {});

}  // namespace korbu::cli
