#include "scan/FileVerdict.h"

#include "detect/ExecutableFile.h"
#include "detect/Heuristic.h"
#include "detect/VariantTable.h"
#include "platform/OpenedFile.h"

namespace korbu {

bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine,
              bool heuristicEnabled, std::string* error) {
  verdict.clear();
  if (error != nullptr) error->clear();
  // One open for every test: whatever is swapped in under the name afterwards is
  // never read, and a FIFO or link put there is refused without blocking.
  platform::OpenedFile file = platform::OpenedFile::Open(path);
  if (!file.IsOpen()) {
    if (error != nullptr) *error = file.Error();
    return false;
  }
  return ScanOpenedFile(file, verdict, engine, heuristicEnabled, error);
}

bool ScanOpenedFile(platform::OpenedFile& file, std::string& verdict, EngineScanner* engine,
                    bool heuristicEnabled, std::string* error) {
  verdict.clear();
  if (error != nullptr) error->clear();
  std::string engineError;
  // The engine's name is only a default: both own tests take precedence over it.
  if (engine != nullptr && engine->IsActive()) verdict = engine->ScanForVirus(file, engineError);

  const ExecutableFacts facts =
      ExamineExecutable(file, heuristicEnabled ? ExamineFor::CrcAndPattern : ExamineFor::Crc);
  int index = 0;
  if (facts.crcValid && FindVariantByCrc(facts.crc, index)) {
    verdict = VariantName(index);
  } else if (heuristicEnabled && facts.patternFound) {
    verdict = kHeuristicVerdictName;
  }
  if (error != nullptr) *error = facts.readError ? file.Error() : engineError;
  return !verdict.empty();
}

}  // namespace korbu
