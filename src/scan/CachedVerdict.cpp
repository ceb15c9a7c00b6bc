#include "scan/CachedVerdict.h"

namespace korbu {

CacheLookup::CacheLookup(cache::VerdictCache* cache, platform::OpenedFile& file) : cache_(cache) {
  if (cache_ == nullptr) return;
  Expected<platform::FileStamp> stamp = platform::StampOf(file);
  stampTakenNs_ = platform::NowNs();
  if (!stamp || !stamp->trusted) {
    cache_->CountNotCacheable();
    cache_ = nullptr;  // judged every time, and never kept
    return;
  }
  stamp_ = *stamp;
  answer_ = cache_->Find(stamp_);
}

bool CacheLookup::CleanAgainstAddedSignatures(platform::OpenedFile& file) {
  if (answer_.kind != cache::VerdictCache::Answer::Kind::Recheck || answer_.engine == nullptr) return false;
  if (answer_.filter != nullptr && !answer_.filter->MayMatch(file, answer_.matchedAs)) {
    KeepClean(answer_.matchedAs);
    return true;
  }
  const EngineVerdict added = answer_.engine->ScanForVirus(file);
  if (!added.virusName.empty() || !added.readError.empty() || added.notWhole) return false;
  KeepClean(added.matchedAs);
  return true;
}

void CacheLookup::Forget() {
  if (cache_ != nullptr && answer_.kind != cache::VerdictCache::Answer::Kind::Judge) cache_->Forget(stamp_);
}

void CacheLookup::KeepClean(MatchedAs matchedAs) {
  if (cache_ != nullptr) cache_->KeepClean(stamp_, stampTakenNs_, matchedAs);
}

}  // namespace korbu
