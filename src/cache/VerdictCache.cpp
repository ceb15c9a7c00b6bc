#include "cache/VerdictCache.h"

#include <algorithm>
#include <vector>

#include "detect/Heuristic.h"
#include "detect/VariantTable.h"
#include "engine/LibClamAV.h"
#include "engine/SignatureLines.h"
#include "platform/HexText.h"
#include "platform/SharedFile.h"
#include "platform/Sha256.h"

namespace korbu::cache {
namespace {

// Raised whenever the verdict rules of this program change, so that no verdict of
// an older program counts.
constexpr char kVerdictRules[] = "korbu verdict rules 2";
// Earlier contexts judged by small engines in one scan, the most used first.
constexpr std::size_t kMaxSmallEngines = 2;

void Add(platform::Sha256& hash, const std::string& field) {
  hash.Update(field);
  hash.Update(std::string_view("\0", 1));
}

}  // namespace

std::string SettingsDigest(const VerdictSettings& settings) {
  platform::Sha256 hash;
  Add(hash, kVerdictRules);
  for (int index = 1; index <= kVariantCount; ++index) {
    Add(hash, platform::HexNumber(VariantCrcTable[static_cast<std::size_t>(index - 1)], 8) + "=" +
                  std::string(VariantName(index)));
  }
  Add(hash, settings.heuristic ? "heuristic " + HeuristicPattern() : "no heuristic");
  if (settings.engineServer) {
    // clamd's settings are its own; its version line names its databases.
    Add(hash, "clamd " + *settings.engineServer);
    return hash.HexDigest();
  }
  const TClamAV* engine = settings.engine;
  if (engine == nullptr || !engine->Active()) {
    Add(hash, "no engine");
    return hash.HexDigest();
  }
  const EngineEntries& library = EngineLibrary();
  Add(hash, engine->LibraryVersion());
  Add(hash, std::to_string(library.retflevel != nullptr ? library.retflevel() : 0));
  const EngineLimits& limits = engine->Limits();
  Add(hash, std::to_string(engine->ScanOptions()) + " " + std::to_string(limits.maxreclevel) + " " +
                std::to_string(limits.maxfiles) + " " + std::to_string(limits.maxratio) + " " +
                std::to_string(limits.archivememlim) + " " + std::to_string(limits.maxfilesize));
  // Only when widened, so that the verdicts kept before stay keyed as they were.
  if (const TClamAV::Widening& widened = engine->Widened(); !(widened == TClamAV::Widening{})) {
    Add(hash, "widened " + std::to_string(widened.parse) + " " + std::to_string(widened.maxScanSize));
  }
  return hash.HexDigest();
}

MatchedAs MatchedAsOfMark(ContextId marked) {
  switch (marked & kMatchedAsBits) {
    case static_cast<ContextId>(MatchedAs::Bytes):
      return MatchedAs::Bytes;
    case static_cast<ContextId>(MatchedAs::Text):
      return MatchedAs::Text;
    default:
      return MatchedAs::Unknown;
  }
}

ContextId ContextIdOf(const std::string& settingsDigest, const std::string& setDigest) {
  platform::Sha256 hash;
  Add(hash, settingsDigest);
  Add(hash, setDigest);
  const std::string digest = hash.Digest();
  ContextId id = 0;
  for (std::size_t i = 0; i < 8; ++i) id = (id << 8) | static_cast<unsigned char>(digest[i]);
  id &= ~kMatchedAsBits;
  return id == 0 ? kMatchedAsBits + 1 : id;
}

Expected<std::unique_ptr<VerdictCache>> VerdictCache::Open(const std::string& folder) {
  if (folder.empty()) return Failure("no home folder for the cache");
  if (Status made = platform::EnsurePrivateFolder(folder); !made) return made.error();
  Expected<std::unique_ptr<VerdictStore>> store = VerdictStore::Open(folder);
  if (!store) return store.error();
  return std::unique_ptr<VerdictCache>(new VerdictCache(folder, std::move(*store)));
}

Expected<std::unique_ptr<VerdictCache>> VerdictCache::OpenForUser() { return Open(platform::ProgramCacheFolder()); }

Status VerdictCache::BeginScan(const VerdictSettings& settings) {
  ready_ = false;
  stillClean_.clear();
  small_.clear();
  fullReason_.clear();
  fromCache_ = 0;
  rechecked_ = 0;
  notCacheable_ = 0;
  if (settings.engineServer && settings.engineServer->empty()) return Failure("clamd did not tell its version");
  ContextEntry current;
  current.settings = SettingsDigest(settings);
  std::optional<DatabaseSet> set;
  const TClamAV* engine = settings.engine;
  if (engine != nullptr && engine->Active()) {
    if (engine->DBDir().empty() || !engine->DBFile().empty()) return Failure("the engine loaded one database file");
    Expected<DatabaseSet> identified =
        IdentifyDatabases(engine->DBDir(), engine->LoadStartedNs(),
                          [&](const std::string& name, const platform::FileStamp& stamp) {
                            return index_.KnownDigest(name, stamp);
                          });
    if (!identified) return identified.error();
    set = std::move(*identified);
    current.set = set->digest;
    for (const DatabaseFileIdentity& file : set->files) {
      current.databases.push_back({file.name, file.digest});
      // Kept now for the next update, when this set will be the one before.
      (void)index_.KeepRecord(file.digest, DatabaseKind(file.name), file.path);
    }
  }
  current.id = ContextIdOf(current.settings, current.set);
  if (Status used = index_.Use(current, set ? &*set : nullptr); !used) return used;
  current_ = current.id;
  if (set) PrepareEarlier(current, *set, *engine);
  ready_ = true;
  return Ok();
}

// Verdicts of the same settings with an earlier database set: those of the most
// used sets get a small engine of the signatures added since (or count as they
// are when nothing was added); the others are judged in full.
void VerdictCache::PrepareEarlier(const ContextEntry& current, const DatabaseSet& set, const TClamAV& engine) {
  std::map<ContextId, std::size_t> counts;
  for (const auto& [marked, count] : store_->ContextsAtOpen()) counts[marked & ~kMatchedAsBits] += count;
  std::vector<std::pair<std::size_t, ContextEntry>> earlier;
  for (const auto& [id, count] : counts) {
    if (id == current.id) continue;
    std::optional<ContextEntry> entry = index_.Context(id);
    if (entry && entry->settings == current.settings && !entry->set.empty()) earlier.emplace_back(count, *entry);
  }
  std::sort(earlier.begin(), earlier.end(), [](const auto& a, const auto& b) { return a.first > b.first; });
  if (earlier.size() > kMaxSmallEngines) earlier.resize(kMaxSmallEngines);
  for (const auto& item : earlier) {
    const ContextEntry& entry = item.second;  // a lambda may not capture a structured binding before C++23
    const auto plan = [&]() -> DeltaPlan {
      std::vector<RecordedDatabase> before;
      std::vector<RecordedDatabase> now;
      for (const IndexedDatabase& database : entry.databases) {
        Expected<SignatureRecord> record = index_.Record(database.digest, DatabaseKind(database.name));
        if (!record) {
          DeltaPlan full;
          full.reason = record.error().reason;
          return full;
        }
        before.push_back({std::string(), database.digest, std::move(*record)});
      }
      for (const DatabaseFileIdentity& file : set.files) {
        Expected<SignatureRecord> record = index_.Record(file.digest, DatabaseKind(file.name), file.path);
        if (!record) {
          DeltaPlan full;
          full.reason = record.error().reason;
          return full;
        }
        now.push_back({file.path, file.digest, std::move(*record)});
      }
      return PlanDelta(before, now);
    };
    Expected<CacheIndex::SmallEngineFolders> folders = index_.SmallEngine(entry.set, current.set, plan);
    if (!folders) {
      fullReason_ = folders.error().reason;
      continue;
    }
    switch (folders->kind) {
      case DeltaPlan::Kind::Unchanged:
        stillClean_.insert(entry.id);
        break;
      case DeltaPlan::Kind::Small: {
        auto small = std::make_unique<TClamAV>();
        small->Limits() = engine.Limits();
        small->SetScanOptions(engine.ScanOptions());
        small->SetTempFolder(engine.TempFolder());
        small->SetWidening(engine.Widened());
        if (small->ActivateFolders(folders->official, folders->local)) {
          small_[entry.id] = {std::move(small), AddedSignatureFilter::FromSmallEngine(folders->official, folders->local)};
        } else {
          fullReason_ = "the small engine did not load: " + small->LoadError();
        }
        break;
      }
      case DeltaPlan::Kind::Full:
        fullReason_ = folders->reason;
        break;
    }
  }
}

VerdictCache::Answer VerdictCache::Find(const platform::FileStamp& stamp) {
  Answer answer;
  if (!ready_ || !stamp.trusted) return answer;
  const std::optional<ContextId> marked = store_->Find(stamp);
  if (!marked) return answer;
  const ContextId context = *marked & ~kMatchedAsBits;
  const MatchedAs matchedAs = MatchedAsOfMark(*marked);
  if (context == current_ || stillClean_.count(context) != 0) {
    if (context != current_) store_->Put(stamp, current_ | (*marked & kMatchedAsBits));
    ++fromCache_;
    answer.kind = Answer::Kind::Clean;
    return answer;
  }
  if (auto small = small_.find(context); small != small_.end()) {
    ++rechecked_;
    answer.kind = Answer::Kind::Recheck;
    answer.engine = small->second.engine.get();
    answer.matchedAs = matchedAs;
    if (matchedAs != MatchedAs::Unknown && small->second.filter) answer.filter = &*small->second.filter;
  }
  return answer;
}

void VerdictCache::KeepClean(const platform::FileStamp& stamp, std::int64_t stampTakenNs, MatchedAs matchedAs) {
  if (!ready_ || !stamp.trusted || stamp.changedNs >= stampTakenNs) return;
  store_->Put(stamp, current_ | static_cast<ContextId>(matchedAs));
}

}  // namespace korbu::cache
