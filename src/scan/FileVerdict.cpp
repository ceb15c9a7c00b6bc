#include "scan/FileVerdict.h"

#include <utility>

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

FileVerdictResult NotOpened(std::string path, const platform::OpenedFile& file) {
  FileVerdictResult result{std::move(path), {}, file.Error(), std::nullopt};
  result.notOpened = true;
  return result;
}

}  // namespace

FileVerdictResult JudgeFile(std::string path, const ScanContext& context) {
  // One open for every test: whatever is swapped in under the name afterwards is
  // never read, and a FIFO or link put there is refused without blocking.
  platform::OpenedFile file = platform::OpenedFile::Open(path);
  if (!file.IsOpen()) return NotOpened(std::move(path), file);
  return JudgeOpenedFile(file, std::move(path), context);
}

FileVerdictResult JudgeOpenedFile(platform::OpenedFile& file, std::string name, const ScanContext& context) {
  FileVerdictResult result{std::move(name), {}, {}, std::nullopt};
  // What the cache knows of the file in the state it was opened in.
  CacheLookup cached(context.cache, file);
  if (cached.Clean()) return result;
  result.bytesRead = file.Size();  // the added signatures alone read it all the same
  if (cached.CleanAgainstAddedSignatures(file)) return result;
  // Anything else, a detection by the added signatures too, is judged in full, so
  // that its name is the one a scan without the cache gives.
  EngineVerdict engine;
  // The engine's name is only a default: both own tests take precedence over it.
  if (context.engine != nullptr && context.engine->IsActive()) engine = context.engine->ScanForVirus(file);
  result.verdict = std::move(engine.virusName);
  result.notWhole = std::move(engine.notWhole);

  const ExecutableFacts facts =
      ExamineExecutable(file, context.heuristic ? ExamineFor::CrcAndPattern : ExamineFor::Crc);
  int index = 0;
  if (facts.crcValid && FindVariantByCrc(facts.crc, index)) {
    result.verdict = VariantName(index);
  } else if (context.heuristic && facts.patternFound) {
    result.verdict = kHeuristicVerdictName;
  }
  result.error = facts.readError ? file.Error() : std::move(engine.readError);
  if (!result.verdict.empty()) {
    cached.Forget();
  } else if (result.JudgedWhole()) {
    cached.KeepClean(engine.matchedAs);
  }
  return result;
}

bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine, bool heuristicEnabled,
              std::string* error) {
  return ScanFile(path, verdict, Sources(engine, heuristicEnabled), error);
}

bool ScanFile(const std::string& path, std::string& verdict, const ScanContext& context, std::string* error) {
  verdict.clear();
  if (error != nullptr) error->clear();
  FileVerdictResult result = JudgeFile(path, context);
  verdict = std::move(result.verdict);
  if (error != nullptr) *error = std::move(result.error);
  return !verdict.empty();
}

bool ScanFile(const std::string& path, std::string& verdict, const ScanContext& context, ScanFrontEnd& frontEnd) {
  platform::OpenedFile file = platform::OpenedFile::Open(path);
  return ScanOpenedFile(file, path, verdict, context, frontEnd);
}

bool ScanOpenedFile(platform::OpenedFile& file, const std::string& path, std::string& verdict,
                    const ScanContext& context, ScanFrontEnd& frontEnd) {
  verdict.clear();
  FileVerdictResult result = file.IsOpen() ? JudgeOpenedFile(file, path, context) : NotOpened(path, file);
  verdict = std::move(result.verdict);
  if (verdict.empty() && result.notWhole) frontEnd.ShowNotJudgedWhole(path, *result.notWhole);
  return !verdict.empty();
}

}  // namespace korbu
