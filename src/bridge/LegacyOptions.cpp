#include "bridge/LegacyOptions.h"

#include <cstddef>

namespace korbu::bridge {

static_assert(sizeof(clam_limits) == 20);
static_assert(offsetof(clam_limits, maxreclevel) == 0);
static_assert(offsetof(clam_limits, maxfiles) == 4);
static_assert(offsetof(clam_limits, maxratio) == 8);
static_assert(offsetof(clam_limits, archivememlim) == 12);
static_assert(offsetof(clam_limits, maxfilesize) == 16);

cl_scan_options MapLegacyOptions(unsigned int legacy) {
  cl_scan_options options{};
  auto has = [legacy](unsigned int bit) { return (legacy & bit) != 0; };
  if (has(CLAM_SCAN_ARCHIVE)) options.parse |= CL_SCAN_PARSE_ARCHIVE;
  if (has(CLAM_SCAN_MAIL)) options.parse |= CL_SCAN_PARSE_MAIL;
  if (has(CLAM_SCAN_OLE2)) options.parse |= CL_SCAN_PARSE_OLE2;
  if (has(CLAM_SCAN_HTML)) options.parse |= CL_SCAN_PARSE_HTML;
  if (has(CLAM_SCAN_PE)) options.parse |= CL_SCAN_PARSE_PE;
  if (has(CLAM_SCAN_BLOCKENCRYPTED)) {
    options.heuristic |= CL_SCAN_HEURISTIC_ENCRYPTED_ARCHIVE | CL_SCAN_HEURISTIC_ENCRYPTED_DOC;
  }
  if (has(CLAM_SCAN_BLOCKBROKEN)) options.heuristic |= CL_SCAN_HEURISTIC_BROKEN;
  if (has(CLAM_SCAN_BLOCKMAX)) options.heuristic |= CL_SCAN_HEURISTIC_EXCEEDS_MAX;
  if (has(CLAM_SCAN_ALGORITHMIC)) options.general |= CL_SCAN_GENERAL_HEURISTICS;
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
