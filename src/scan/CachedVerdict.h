#pragma once
// The verdict cache as the file verdict consults it: the open file's stamps are
// taken before any of its bytes is read, asked of the cache, and a clean verdict
// read whole is kept under those stamps.

#include <cstdint>
#include <string>

#include "cache/VerdictCache.h"
#include "platform/FileStamp.h"
#include "platform/OpenedFile.h"

namespace korbu {

class CacheLookup {
 public:
  /// Takes the file's stamps and asks the cache (which may be null).
  CacheLookup(cache::VerdictCache* cache, platform::OpenedFile& file);

  /// Clean without reading the file.
  bool Clean() const { return answer_.kind == cache::VerdictCache::Answer::Kind::Clean; }
  /// Clean but for the signatures added since: judges the file with those alone.
  /// True when they find nothing and the file was read whole; the verdict is then
  /// kept for this scan's settings.
  bool CleanAgainstAddedSignatures(platform::OpenedFile& file);
  /// Keeps a clean verdict of this scan's settings, the file read whole;
  /// matchedAs as the engine's verdict said.
  void KeepClean(MatchedAs matchedAs);
  /// The file was found infected: no earlier clean verdict of it is kept.
  void Forget();

 private:
  cache::VerdictCache* cache_;
  platform::FileStamp stamp_;
  std::int64_t stampTakenNs_ = 0;
  cache::VerdictCache::Answer answer_;
};

}  // namespace korbu
