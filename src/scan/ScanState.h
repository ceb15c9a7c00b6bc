#pragma once
// The scan state the file verdict reads. The scan driver writes it before the
// phases of a scan begin and leaves it alone while they run.

#include "engine/EngineScanner.h"

namespace korbu {

/// The "Scan for new unknown viruses" option: the heuristic test runs only when set.
extern bool HeuristicEnabled;

/// The signature engine the verdict asks; null when there is none. The engine
/// set-up points it at the one engine component; an engine that is not active is
/// not asked either.
extern EngineScanner* ScanEngine;

}  // namespace korbu
