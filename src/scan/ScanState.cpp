#include "scan/ScanState.h"

namespace korbu {

bool HeuristicEnabled = false;
EngineScanner* ScanEngine = nullptr;

}  // namespace korbu
