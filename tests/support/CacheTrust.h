#pragma once
// Whether the verdict cache keeps verdicts for files in a folder on this machine:
// it keeps none on volumes it does not trust, or on kernels without a mount
// identity that is never reused (before Linux 6.8), so tests that count cached
// verdicts skip there.

#include <string>

namespace korbu::test {

/// Why the cache keeps no verdict for a file made in FOLDER; empty when it does.
std::string CacheDistrusts(const std::string& folder);

}  // namespace korbu::test
