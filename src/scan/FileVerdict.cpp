#include "scan/FileVerdict.h"

#include "detect/ExecutableFile.h"
#include "detect/Heuristic.h"
#include "detect/VariantTable.h"
#include "platform/OpenedFile.h"
#include "scan/CachedVerdict.h"

namespace korbu {
namespace {

ScanContext Sources(EngineScanner* engine, bool heuristicEnabled) {
  ScanContext context;
  context.engine = engine;
  context.heuristic = heuristicEnabled;
  return context;
}

}  // namespace

bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine,
              bool heuristicEnabled, std::string* error) {
  return ScanFile(path, verdict, Sources(engine, heuristicEnabled), error);
}

bool ScanOpenedFile(platform::OpenedFile& file, std::string& verdict, EngineScanner* engine,
                    bool heuristicEnabled, std::string* error) {
  return ScanOpenedFile(file, verdict, Sources(engine, heuristicEnabled), error);
}

bool ScanFile(const std::string& path, std::string& verdict, const ScanContext& context, std::string* error) {
  verdict.clear();
  if (error != nullptr) error->clear();
  // One open for every test: whatever is swapped in under the name afterwards is
  // never read, and a FIFO or link put there is refused without blocking.
  platform::OpenedFile file = platform::OpenedFile::Open(path);
  if (!file.IsOpen()) {
    if (error != nullptr) *error = file.Error();
    return false;
  }
  return ScanOpenedFile(file, verdict, context, error);
}

bool ScanOpenedFile(platform::OpenedFile& file, std::string& verdict, const ScanContext& context,
                    std::string* error) {
  EngineScanner* const engine = context.engine;
  const bool heuristicEnabled = context.heuristic;
  verdict.clear();
  if (error != nullptr) error->clear();
  // What the cache knows of the file in the state it was opened in.
  CacheLookup cached(context.cache, file);
  if (cached.Clean() || cached.CleanAgainstAddedSignatures(file)) return false;
  // Anything else, a detection by the added signatures too, is judged in full, so
  // that its name is the one a scan without the cache gives.
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
  const std::string why = facts.readError ? file.Error() : engineError;
  if (error != nullptr) *error = why;
  if (verdict.empty() && why.empty()) cached.KeepClean();
  if (!verdict.empty()) cached.Forget();
  return !verdict.empty();
}

}  // namespace korbu
