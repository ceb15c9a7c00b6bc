#pragma once
// The verdict cache of a scan: a file whose identity and change stamps are those
// it had when it was last found clean, and whose verdict was made by the same
// engine (libclamav version and functionality level), the same databases, the
// same own detection and the same options, is clean without being read. After a
// database update, a file found clean before is judged only against the
// signatures the update added (see SignatureDelta.h), or in full where that
// cannot be told safely. Only files on file systems whose stamps can be trusted
// take part; detections and files not judged whole are never kept.

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>

#include "cache/AddedSignatureFilter.h"
#include "cache/CacheIndex.h"
#include "cache/VerdictStore.h"
#include "engine/ClamAV.h"
#include "platform/Expected.h"
#include "platform/FileStamp.h"

namespace korbu::cache {

/// What a scan's verdicts depend on besides the files.
struct VerdictSettings {
  /// The scan's engine, its option word and limits set; null or inactive when the
  /// own detection judges alone.
  const TClamAV* engine = nullptr;
  bool heuristic = false;
  /// Set when a clamd judges in place of the engine: the version line it gave
  /// (its engine and database versions), empty when it gave none.
  std::optional<std::string> engineServer;
};

class VerdictCache {
 public:
  /// The cache in a folder private to the user (made when missing); refused when
  /// the folder is not the user's own.
  static Expected<std::unique_ptr<VerdictCache>> Open(const std::string& folder);
  /// The user's own cache (see platform::ProgramCacheFolder).
  static Expected<std::unique_ptr<VerdictCache>> OpenForUser();

  /// Prepares for a scan with these settings (call it after the engine's options
  /// are set). On failure (the databases changed since the engine loaded them, the
  /// cache cannot be written) the scan judges every file, as without a cache.
  Status BeginScan(const VerdictSettings& settings);

  /// What the cache says of a file in this state.
  struct Answer {
    enum class Kind {
      Judge,    // judge it in full
      Clean,    // clean, from the cache
      Recheck,  // clean but for the signatures added since: judge it with engine alone
    };
    Kind kind = Kind::Judge;
    TClamAV* engine = nullptr;  // the small engine of the added signatures (Recheck)
    /// The quick test of the added signatures (Recheck), when it is known what
    /// the engine matched in the file and the update has such a test.
    const AddedSignatureFilter* filter = nullptr;
    MatchedAs matchedAs = MatchedAs::Unknown;  // as kept with the clean verdict
  };
  Answer Find(const platform::FileStamp& stamp);

  /// Keeps a clean verdict made with this scan's settings for the file in this
  /// state, read whole; stampTakenNs is platform::NowNs() read right after the
  /// stamp. A file changed in the clock tick the stamp was taken is not kept: a
  /// change later in that tick would leave its stamps as they are. matchedAs: as
  /// the verdict said (EngineVerdict::matchedAs).
  void KeepClean(const platform::FileStamp& stamp, std::int64_t stampTakenNs, MatchedAs matchedAs);

  /// Forgets the file in this state: it was judged in full and found infected.
  void Forget(const platform::FileStamp& stamp) { store_->Forget(stamp); }

  /// Files found clean in the cache, and files judged only against added
  /// signatures, since the scan began.
  long long FromCache() const { return fromCache_.load(); }
  long long Rechecked() const { return rechecked_.load(); }
  /// Files judged in full because no verdict of them may be kept: their stamps
  /// cannot be trusted (see platform::FileStamp::trusted).
  void CountNotCacheable() { ++notCacheable_; }
  long long NotCacheable() const { return notCacheable_.load(); }

  /// Why earlier verdicts are judged again in full this scan, or empty.
  const std::string& FullRejudgeReason() const { return fullReason_; }
  /// The store, for tests and size figures.
  VerdictStore& Store() { return *store_; }

 private:
  VerdictCache(std::string folder, std::unique_ptr<VerdictStore> store)
      : folder_(std::move(folder)), index_(folder_), store_(std::move(store)) {}
  void PrepareEarlier(const ContextEntry& current, const DatabaseSet& set, const TClamAV& engine);

  std::string folder_;
  CacheIndex index_;
  std::unique_ptr<VerdictStore> store_;
  bool ready_ = false;
  ContextId current_ = 0;
  std::set<ContextId> stillClean_;  // earlier contexts whose update added nothing
  struct SmallEngine {
    std::unique_ptr<TClamAV> engine;
    std::optional<AddedSignatureFilter> filter;
  };
  std::map<ContextId, SmallEngine> small_;
  std::string fullReason_;
  std::atomic<long long> fromCache_{0};
  std::atomic<long long> rechecked_{0};
  std::atomic<long long> notCacheable_{0};
};

/// The digest of everything but the databases that a verdict depends on: the
/// engine library's libclamav version and functionality level, the option word
/// and limits, the own detection's tables and the heuristic option.
std::string SettingsDigest(const VerdictSettings& settings);

/// A context id's lowest two bits are kept for a mark of the entry: what the
/// engine matched in the file (MatchedAs). Ids of contexts have them clear.
inline constexpr ContextId kMatchedAsBits = 3;

/// The mark of an entry as MatchedAs (Unknown for none, or for bits it never writes).
MatchedAs MatchedAsOfMark(ContextId marked);

/// The id of the context of settings and a database set (empty without engine).
ContextId ContextIdOf(const std::string& settingsDigest, const std::string& setDigest);

}  // namespace korbu::cache
