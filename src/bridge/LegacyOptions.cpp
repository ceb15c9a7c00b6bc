#include "bridge/LegacyOptions.h"

#include <cstddef>

namespace korbu::bridge {

static_assert(sizeof(clam_limits) == 20);
static_assert(offsetof(clam_limits, maxreclevel) == 0);
static_assert(offsetof(clam_limits, maxfiles) == 4);
static_assert(offsetof(clam_limits, maxratio) == 8);
static_assert(offsetof(clam_limits, archivememlim) == 12);
static_assert(offsetof(clam_limits, maxfilesize) == 16);

clam::cl_scan_options MapLegacyOptions(unsigned int legacy) {
  using namespace clam;
  cl_scan_options options{};
  auto has = [legacy](unsigned int bit) { return (legacy & bit) != 0; };
  if (has(CLAM_SCAN_ARCHIVE)) options.parse |= kScanParseArchive;
  if (has(CLAM_SCAN_MAIL)) options.parse |= kScanParseMail;
  if (has(CLAM_SCAN_OLE2)) options.parse |= kScanParseOle2;
  if (has(CLAM_SCAN_HTML)) options.parse |= kScanParseHtml;
  if (has(CLAM_SCAN_PE)) options.parse |= kScanParsePe;
  if (has(CLAM_SCAN_BLOCKENCRYPTED)) {
    options.heuristic |= kScanHeuristicEncryptedArchive | kScanHeuristicEncryptedDoc;
  }
  if (has(CLAM_SCAN_BLOCKBROKEN)) options.heuristic |= kScanHeuristicBroken;
  if (has(CLAM_SCAN_BLOCKMAX)) options.heuristic |= kScanHeuristicExceedsMax;
  if (has(CLAM_SCAN_ALGORITHMIC)) options.general |= kScanGeneralHeuristics;
  return options;
}

EngineLimitValues LimitsFromRecord(const clam_limits* record, const EngineLimitValues& defaults) {
  EngineLimitValues limits = defaults;
  if (record == nullptr) return limits;
  if (record->maxreclevel > 0) limits.maxRecursion = record->maxreclevel;
  if (record->maxfiles > 0) limits.maxFiles = record->maxfiles;
  if (record->maxfilesize > 0) limits.maxFileSize = record->maxfilesize;
  return limits;
}

}  // namespace korbu::bridge
