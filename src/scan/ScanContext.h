#pragma once
// What one scan hands every verdict: the engine and the heuristic option of that
// scan. The session fills it before the phases begin and leaves it alone while
// they run, so verdicts on several threads read it without a lock.

#include <atomic>

#include "engine/EngineScanner.h"

namespace korbu {
namespace cache {
class VerdictCache;
}

struct ScanContext {
  /// The signature engine to ask; null, or not active, leaves the own tests alone.
  EngineScanner* engine = nullptr;
  /// The "Scan for new unknown viruses" option: the heuristic test runs only when set.
  bool heuristic = false;
  /// Set (from any thread) when the scan is to stop; the registry phase ends at
  /// once, a Wine start under way included. Null: it runs to its end.
  const std::atomic<bool>* stop = nullptr;
  /// Clean verdicts kept from earlier scans, ready for this one; null judges every file.
  cache::VerdictCache* cache = nullptr;
};

}  // namespace korbu
