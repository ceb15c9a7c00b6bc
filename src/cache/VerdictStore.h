#pragma once
// The file of clean verdicts: for a file in one state (its identity and change
// stamps), the context its clean verdict was made in. A table of fixed-size slots
// grouped in buckets, read whole when opened and written slot by slot, so that
// several scans (threads and processes) use it at once without waiting: each slot
// carries a check, and a slot torn by a crash or by two writers at once, like a
// file that is not a store at all, is taken for empty. An entry may go in either
// of two buckets, so that buckets seldom overflow before the table is full. The
// table grows up to a bound; beyond it a new entry replaces the least recently
// used of its two buckets.

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/FileStamp.h"
#include "platform/SharedFile.h"

namespace korbu::cache {

/// What a verdict was made with (see VerdictContext.h); never 0.
using ContextId = std::uint64_t;

inline constexpr char kStoreFileName[] = "verdicts";
inline constexpr char kLockFileName[] = "lock";
/// Bytes per entry, and entries per bucket.
inline constexpr std::size_t kSlotSize = 32;
inline constexpr std::size_t kBucketSlots = 8;
/// A new store has room for this many entries (128 KiB); it grows fourfold while more than three
/// quarters are taken, up to the bound (64 MiB: two million files).
inline constexpr std::uint32_t kInitialSlots = 1u << 12;
inline constexpr std::uint32_t kMaxSlots = 1u << 21;

class VerdictStore {
 public:
  /// Opens the store of a private folder, making it when it is missing and making
  /// it anew when what is there cannot be trusted (not the store's format, torn,
  /// not the user's). maxSlots bounds it (a power of two, at least a bucket).
  static Expected<std::unique_ptr<VerdictStore>> Open(const std::string& folder,
                                                      std::uint32_t maxSlots = kMaxSlots);

  /// The context of the clean verdict kept for the file in this state; empty when
  /// none is. An entry found is marked used now.
  std::optional<ContextId> Find(const platform::FileStamp& stamp);

  /// Keeps a clean verdict for the file in this state, in place of any earlier one.
  void Put(const platform::FileStamp& stamp, ContextId context);

  /// Drops the verdict kept for the file in this state, if any.
  void Forget(const platform::FileStamp& stamp);

  /// How many entries each context had when the store was opened.
  const std::map<ContextId, std::size_t>& ContextsAtOpen() const { return contextsAtOpen_; }

  std::uint32_t Slots() const;
  std::size_t Entries() const;
  /// Why the last write failed (the store then only reads); empty when none did.
  std::string WriteProblem() const;

 private:
  VerdictStore(std::string folder, std::uint32_t maxSlots) : folder_(std::move(folder)), maxSlots_(maxSlots) {}
  Status Load();
  Status Create(std::uint32_t slots);
  Status Grow();
  struct Placement {
    std::size_t slot;
    int rank;  // 2: the file's own entry, 1: a free slot, 0: another file's entry
  };
  Placement Place(const std::string& tag) const;
  std::string Tag(const platform::FileStamp& stamp) const;
  // The slots of the two buckets a file's entry may be in.
  std::vector<std::size_t> SlotsOf(const std::string& tag) const;
  bool SlotValid(std::size_t slot) const;
  void WriteSlot(std::size_t slot);

  const std::string folder_;
  const std::uint32_t maxSlots_;
  mutable std::mutex mutex_;
  std::unique_ptr<platform::SharedFile> file_;
  std::string seed_;                // 16 bytes, kept in the header
  std::vector<unsigned char> table_;  // the slots, as in the file
  std::size_t entries_ = 0;
  std::string writeProblem_;
  std::map<ContextId, std::size_t> contextsAtOpen_;
};

}  // namespace korbu::cache
