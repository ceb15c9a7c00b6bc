#pragma once
// The legacy option word and limits record in libclamav 1.x terms.

#include <cstdint>

#include "bridge/ClamTypes.h"
#include "bridge/korbu_clam.h"

namespace korbu::bridge {

/// The scan options that stand for a legacy option word. Bits without a
/// successor (MAILURL, and everything above ALGORITHMIC) are ignored.
clam::cl_scan_options MapLegacyOptions(unsigned int legacy);

/// The libclamav limits an engine scans with.
struct EngineLimitValues {
  long long maxRecursion = 0;
  long long maxFiles = 0;
  long long maxFileSize = 0;

  friend bool operator==(const EngineLimitValues&, const EngineLimitValues&) = default;
};

/// The limits that a legacy record asks for: a field of 0 or less keeps the
/// corresponding default; a null record means the defaults.
EngineLimitValues LimitsFromRecord(const clam_limits* record, const EngineLimitValues& defaults);

}  // namespace korbu::bridge
