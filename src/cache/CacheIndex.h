#pragma once
// What the verdict cache keeps beside its store: the contexts verdicts were made
// in (the settings, and the database set with its files), the digests of database
// files already read, each database file's signature record, and the small
// engines' databases planned for an update. Everything lives in the private cache
// folder; a file that is torn or not the cache's own is taken for absent.

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "cache/VerdictStore.h"
#include "engine/DatabaseSet.h"
#include "engine/SignatureDelta.h"
#include "engine/SignatureRecord.h"

namespace korbu::cache {

/// One database file of a context's set, as the index remembers it.
struct IndexedDatabase {
  std::string name;
  std::string digest;  // of its content, hex
};

struct ContextEntry {
  ContextId id = 0;
  std::string settings;  // digest of the engine, own detection and options, hex
  std::string set;       // the database set's digest, hex; empty without an engine
  std::vector<IndexedDatabase> databases;
  std::uint32_t used = 0;  // hours since 2020 it was last the current one
};

class CacheIndex {
 public:
  /// Reads the index of a private cache folder; an absent or broken one is empty.
  explicit CacheIndex(std::string folder);

  const std::string& Folder() const { return folder_; }

  /// The context of that id; empty when the index does not know it.
  std::optional<ContextEntry> Context(ContextId id) const;
  /// Makes the context the current one (adding it when new), with the digests of
  /// its database files to remember; keeps the index bounded (the contexts used
  /// last, and the records and plans they need), and writes it.
  Status Use(const ContextEntry& context, const DatabaseSet* set);

  /// A digest known for a database file in a state, or an empty text.
  std::string KnownDigest(const std::string& name, const platform::FileStamp& stamp) const;

  /// The record of a database file by its content's digest and kind, read from the
  /// folder; made from path (and kept) when absent and path is given.
  Expected<SignatureRecord> Record(const std::string& digest, const std::string& kind,
                                   const std::string& path = std::string());

  /// Makes and keeps the record of a database file unless one of the user's own is
  /// kept already (it is checked when it is read).
  Status KeepRecord(const std::string& digest, const std::string& kind, const std::string& path);

  /// The folder of a small engine planned for verdicts of set from, judged now
  /// under set to: its plan, read back or made with make and kept.
  struct SmallEngineFolders {
    DeltaPlan::Kind kind = DeltaPlan::Kind::Full;
    std::string reason;
    std::size_t newSignatures = 0;
    std::string official;  // folders to load; empty when there is nothing in them
    std::string local;
  };
  Expected<SmallEngineFolders> SmallEngine(const std::string& from, const std::string& to,
                                           const std::function<DeltaPlan()>& make);

 private:
  Status Write() const;

  std::string folder_;
  std::vector<ContextEntry> contexts_;
  struct KnownFile {
    std::string name;
    platform::FileStamp stamp;
    std::string digest;
  };
  std::vector<KnownFile> files_;
};

/// How many contexts the index keeps (the records and plans of others go).
inline constexpr std::size_t kKeptContexts = 6;

}  // namespace korbu::cache
