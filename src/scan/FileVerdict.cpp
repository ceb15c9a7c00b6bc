#include "scan/FileVerdict.h"

#include "detect/ExecutableFile.h"
#include "detect/Heuristic.h"
#include "detect/VariantTable.h"
#include "scan/ScanState.h"

namespace korbu {

bool ScanFile(const std::string& path, std::string& verdict) {
  return ScanFile(path, verdict, ScanEngine, HeuristicEnabled);
}

bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine,
              bool heuristicEnabled) {
  verdict.clear();
  // The engine's name is only a default: both own tests take precedence over it.
  if (engine != nullptr && engine->IsActive()) verdict = engine->ScanForVirus(path);

  const ExecutableFacts facts =
      ExamineExecutable(path, heuristicEnabled ? ExamineFor::CrcAndPattern : ExamineFor::Crc);
  int index = 0;
  if (facts.crcValid && FindVariantByCrc(facts.crc, index)) {
    verdict = VariantName(index);
  } else if (heuristicEnabled && facts.patternFound) {
    verdict = kHeuristicVerdictName;
  }
  return !verdict.empty();
}

}  // namespace korbu
