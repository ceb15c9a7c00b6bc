#include "engine/ClamAV.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <iterator>
#include <optional>

#include "platform/FileStamp.h"

namespace korbu {
namespace {

std::string StatusText(const EngineEntries& entries, int status) {
  const char* text = entries.strerror != nullptr ? entries.strerror(status) : nullptr;
  return std::string(text != nullptr ? text : "error") + " (" + std::to_string(status) + ")";
}

// The limit behind a result that says the file was not judged whole.
std::optional<EngineLimitReached> LimitOf(int result, const EngineLimits& limits) {
  switch (result) {
    case kEngineMaxFileSizeResult:
      return EngineLimitReached{"maxfilesize", limits.maxfilesize};
    case kEngineMaxFilesResult:
      return EngineLimitReached{"maxfiles", limits.maxfiles};
    case kEngineMaxRecursionResult:
      return EngineLimitReached{"maxreclevel", limits.maxreclevel};
    default:
      return std::nullopt;
  }
}

}  // namespace

TClamAV::TClamAV() { libraryLoaded_ = LoadEngineLibrary(); }

TClamAV::~TClamAV() { ReleaseEngine(); }

void TClamAV::ReleaseEngine() {
  if (engine_ != nullptr && engineEntries_.free != nullptr) engineEntries_.free(engine_);
  engine_ = nullptr;
  engineEntries_ = EngineEntries{};
}

void TClamAV::SetActive(bool active) {
  if (active == active_) return;
  if (!active) {
    active_ = false;
    return;
  }
  loadError_ = "no engine library";
  if (!LoadEngineLibrary()) return;
  libraryLoaded_ = true;
  ReleaseEngine();
  const EngineEntries& entries = EngineLibrary();
  signatureCount_ = 0;
  loadStartedNs_ = platform::NowNs();
  std::int32_t status = 0;
  if (!dbPaths_.empty()) {
    loadError_ = "the engine library cannot load several databases";
    if (entries.loaddbpaths == nullptr) return;
    std::vector<const char*> paths;
    for (const std::string& path : dbPaths_) paths.push_back(path.c_str());
    const auto count = static_cast<std::uint32_t>(paths.size());
    std::uint32_t failed = count;
    engine_ = entries.loaddbpaths(paths.data(), count, &signatureCount_, &status, &failed);
    Build(entries, status);
    if (!active_ && failed < dbPaths_.size()) loadError_ = dbPaths_[failed] + ": " + loadError_;
    return;
  }
  if (!dbFile_.empty()) {
    engine_ = entries.loaddb(dbFile_.c_str(), &signatureCount_, &status);
  } else if (!dbDir_.empty()) {
    engine_ = entries.loaddbdir(dbDir_.c_str(), &signatureCount_, &status);
  }
  if (engine_ == nullptr && dbFile_.empty() && dbDir_.empty()) {
    loadError_ = "no database given";
    return;
  }
  Build(entries, status);
}

bool TClamAV::ActivateFolders(const std::string& official, const std::string& local) {
  if (active_) return false;
  loadError_ = "no engine library";
  if (!LoadEngineLibrary()) return false;
  libraryLoaded_ = true;
  ReleaseEngine();
  const EngineEntries& entries = EngineLibrary();
  loadError_ = "the engine library cannot load a small engine";
  if (entries.loaddbdirs == nullptr) return false;
  signatureCount_ = 0;
  loadStartedNs_ = platform::NowNs();
  std::int32_t status = 0;
  engine_ = entries.loaddbdirs(official.empty() ? nullptr : official.c_str(), local.empty() ? nullptr : local.c_str(),
                               &signatureCount_, &status);
  Build(entries, status);
  return active_;
}

void TClamAV::Build(const EngineEntries& entries, std::int32_t status) {
  if (engine_ == nullptr) {
    signatureCount_ = 0;
    loadError_ = StatusText(entries, status);
    return;
  }
  engineEntries_ = entries;
  // A database caught empty or half rewritten can load as nothing at all: an
  // engine without signatures would pass for a loaded database that finds nothing.
  if (signatureCount_ == 0) {
    ReleaseEngine();
    loadError_ = "no signatures loaded";
    return;
  }
  int built = entries.build(engine_);
  active_ = built == 0;
  loadError_ = active_ ? std::string() : "build: " + StatusText(entries, built);
  if (active_ && !tempFolder_.empty() && !ApplyTempFolder()) active_ = false;
  if (active_ && !(widening_ == Widening{}) && !ApplyWidening()) active_ = false;
}

bool TClamAV::ApplyWidening() {
  if (engineEntries_.widen == nullptr) {
    loadError_ = "the engine library cannot parse more formats or limit a scan's size";
    return false;
  }
  const int status = engineEntries_.widen(engine_, widening_.parse, widening_.maxScanSize);
  if (status != 0) loadError_ = "the engine's scan size limit: " + StatusText(engineEntries_, status);
  return status == 0;
}

bool TClamAV::SetWidening(Widening widening) {
  widening_ = widening;
  if (engine_ == nullptr || widening_ == Widening{}) return true;
  return ApplyWidening();
}

bool TClamAV::ApplyTempFolder() {
  if (engineEntries_.setTempDir == nullptr) {
    loadError_ = "the engine library cannot take a folder for temporary files";
    return false;
  }
  const int status = engineEntries_.setTempDir(engine_, tempFolder_.c_str());
  if (status != 0) loadError_ = "the temporary folder " + tempFolder_ + ": " + StatusText(engineEntries_, status);
  return status == 0;
}

bool TClamAV::SetTempFolder(std::string folder) {
  tempFolder_ = std::move(folder);
  if (engine_ == nullptr || tempFolder_.empty()) return true;
  return ApplyTempFolder();
}

std::string TClamAV::LibraryVersion() const {
  const EngineEntries& entries = EngineLibrary();
  const char* version = libraryLoaded_ && entries.retver != nullptr ? entries.retver() : nullptr;
  return version != nullptr ? version : std::string();
}

bool TClamAV::VerifyDatabase(const std::string& path) {
  if (!LoadEngineLibrary()) return false;
  return EngineLibrary().cvdverify(path.c_str()) == 0;
}

std::string TClamAV::Scan(platform::OpenedFile& file) {
  last_ = ScanDescriptor(file);
  return last_.virusName;
}

// Reads no member the scan changes, so that several threads can scan at once on
// the one built engine.
EngineVerdict TClamAV::ScanDescriptor(platform::OpenedFile& file) const {
  EngineVerdict verdict;
  if (!active_) return verdict;
  if (!file.IsOpen()) {
    verdict.readError = file.Error();
    return verdict;
  }
  const int desc = file.Descriptor();
  if (desc < 0) {
    verdict.readError = "no descriptor for the engine";
    return verdict;
  }
  std::array<char, kEngineNameBufferSize> name{};
  std::uint32_t scanned = 0;
  std::uint32_t facts = 0;
  const int result =
      engineEntries_.scandescFacts != nullptr
          ? engineEntries_.scandescFacts(desc, name.data(), &scanned, engine_, &limits_, scanOptions_, &facts)
          : engineEntries_.scandesc(desc, name.data(), &scanned, engine_, &limits_, scanOptions_);
  if (result == 0) {
    if ((facts & kEngineFactMatchedAsBytes) != 0) verdict.matchedAs = MatchedAs::Bytes;
    if ((facts & kEngineFactMatchedAsText) != 0) verdict.matchedAs = MatchedAs::Text;
  }
  if (result == 1) {
    // Up to the first zero, never beyond the buffer, whatever the library wrote.
    verdict.virusName.assign(name.data(), ::strnlen(name.data(), name.size()));
  } else if (std::find(std::begin(kEngineReadErrors), std::end(kEngineReadErrors), result) !=
             std::end(kEngineReadErrors)) {
    const char* text = engineEntries_.strerror != nullptr ? engineEntries_.strerror(result) : nullptr;
    verdict.readError = text != nullptr && *text != '\0' ? text : "read error";
  } else {
    verdict.notWhole = LimitOf(result, limits_);
  }
  return verdict;
}

std::string TClamAV::Scan(const std::string& path) {
  if (!active_) {
    last_ = EngineVerdict{};
    return last_.virusName;
  }
  platform::OpenedFile file = platform::OpenedFile::Open(path);
  return Scan(file);
}


}  // namespace korbu
