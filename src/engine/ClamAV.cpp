#include "engine/ClamAV.h"

#include <array>
#include <cstring>

namespace korbu {

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
  if (!LoadEngineLibrary()) return;
  libraryLoaded_ = true;
  ReleaseEngine();
  const EngineEntries& entries = EngineLibrary();
  signatureCount_ = 0;
  std::int32_t status = 0;
  if (!dbFile_.empty()) {
    engine_ = entries.loaddb(dbFile_.c_str(), &signatureCount_, &status);
  } else if (!dbDir_.empty()) {
    engine_ = entries.loaddbdir(dbDir_.c_str(), &signatureCount_, &status);
  }
  if (engine_ == nullptr) {
    signatureCount_ = 0;
    return;
  }
  engineEntries_ = entries;
  // A database caught empty or half rewritten can load as nothing at all: an
  // engine without signatures would pass for a loaded database that finds nothing.
  if (signatureCount_ == 0) {
    ReleaseEngine();
    return;
  }
  active_ = entries.build(engine_) == 0;
}

bool TClamAV::VerifyDatabase(const std::string& path) {
  if (!LoadEngineLibrary()) return false;
  return EngineLibrary().cvdverify(path.c_str()) == 0;
}

std::string TClamAV::Scan(const std::string& path) {
  virusName_.clear();
  if (!active_) return virusName_;
  std::array<char, kEngineNameBufferSize> name{};
  std::uint32_t scanned = 0;
  int result = engineEntries_.scanfile(path.c_str(), name.data(), &scanned, engine_, &limits_,
                                       scanOptions_);
  if (result == 1) {
    // Up to the first zero, never beyond the buffer, whatever the library wrote.
    virusName_.assign(name.data(), ::strnlen(name.data(), name.size()));
  }
  return virusName_;
}

}  // namespace korbu
