#include "cache/VerdictStore.h"

#include <algorithm>
#include <cstring>
#include <random>

#include "detect/Crc32.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"
#include "platform/Sha256.h"

namespace korbu::cache {
namespace {

// The header: magic, format version, slot count, the seed that keys the slots'
// tags and checks, then zeros and a check of the header itself.
constexpr char kMagic[8] = {'K', 'O', 'R', 'B', 'U', 'V', 'C', '1'};
constexpr std::uint32_t kFormatVersion = 1;
constexpr std::size_t kHeaderSize = 64;
constexpr std::size_t kSeedSize = 16;
constexpr std::size_t kSeedAt = 16;
constexpr std::size_t kHeaderCheckAt = 60;
// A slot: the file's tag, the context, when it was last used (hours since 2020),
// and a check over the rest.
constexpr std::size_t kTagSize = 16;
constexpr std::size_t kContextAt = 16;
constexpr std::size_t kUsedAt = 24;
constexpr std::size_t kCheckAt = 28;
// A use is written back only when the entry's mark is older than this, so that a
// rescan of unchanged files reads the store without writing it.
constexpr std::uint32_t kUseGranularityHours = 24;
constexpr std::int64_t kSecondsFrom1970To2020 = 1577836800;
constexpr auto kGrowLockWait = std::chrono::milliseconds(50);

std::uint64_t GetLe(const unsigned char* at, std::size_t bytes) {
  std::uint64_t value = 0;
  for (std::size_t i = bytes; i-- > 0;) value = (value << 8) | at[i];
  return value;
}

void PutLe(unsigned char* at, std::uint64_t value, std::size_t bytes) {
  for (std::size_t i = 0; i < bytes; ++i, value >>= 8) at[i] = static_cast<unsigned char>(value & 0xFF);
}

std::uint32_t Check(const std::string& seed, const unsigned char* bytes, std::size_t length) {
  std::uint32_t crc = Crc32Update(seed.data(), static_cast<std::int64_t>(seed.size()), kCrc32Start);
  return ~Crc32Update(bytes, static_cast<std::int64_t>(length), crc);
}

std::uint32_t HoursNow() {
  const std::int64_t hours = (platform::NowNs() / 1000000000LL - kSecondsFrom1970To2020) / 3600;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(hours, 0, 0xFFFFFFFFLL));
}

std::string NewSeed() {
  std::random_device random;
  std::string seed(kSeedSize, '\0');
  for (char& c : seed) c = static_cast<char>(random() & 0xFF);
  return seed;
}

std::string Header(std::uint32_t slots, const std::string& seed) {
  unsigned char header[kHeaderSize] = {};
  std::memcpy(header, kMagic, sizeof kMagic);
  PutLe(header + 8, kFormatVersion, 4);
  PutLe(header + 12, slots, 4);
  std::memcpy(header + kSeedAt, seed.data(), kSeedSize);
  PutLe(header + kHeaderCheckAt, Check(std::string(), header, kHeaderCheckAt), 4);
  return std::string(reinterpret_cast<const char*>(header), kHeaderSize);
}

bool PowerOfTwo(std::uint32_t n) { return n != 0 && (n & (n - 1)) == 0; }

}  // namespace

Expected<std::unique_ptr<VerdictStore>> VerdictStore::Open(const std::string& folder, std::uint32_t maxSlots) {
  if (!PowerOfTwo(maxSlots) || maxSlots < kBucketSlots) return Failure("bad store bound");
  std::unique_ptr<VerdictStore> store(new VerdictStore(folder, maxSlots));
  std::lock_guard lock(store->mutex_);
  Status loaded = store->Load();
  if (!loaded) return loaded.error();
  return store;
}

Status VerdictStore::Load() {
  const std::string path = platform::IncludeTrailingDelimiter(folder_) + kStoreFileName;
  Expected<platform::SharedFile> file = platform::SharedFile::Open(path);
  if (!file) {
    // Anything at the name that is not the user's own file is put aside, unread.
    // One that cannot be removed makes the new store fail to be written, and says why.
    if (platform::GetEntryInfo(path)) static_cast<void>(platform::DeleteFile(path));
    return Create(std::min(kInitialSlots, maxSlots_));
  }
  unsigned char header[kHeaderSize];
  Expected<std::uint64_t> size = file->Size();
  if (!size || *size < kHeaderSize || !file->ReadAt(header, kHeaderSize, 0)) {
    return Create(std::min(kInitialSlots, maxSlots_));
  }
  const auto slots = static_cast<std::uint32_t>(GetLe(header + 12, 4));
  const bool valid = std::memcmp(header, kMagic, sizeof kMagic) == 0 && GetLe(header + 8, 4) == kFormatVersion &&
                     GetLe(header + kHeaderCheckAt, 4) == Check(std::string(), header, kHeaderCheckAt) &&
                     PowerOfTwo(slots) && slots >= kBucketSlots && slots <= kMaxSlots &&
                     *size == kHeaderSize + std::uint64_t{slots} * kSlotSize;
  if (!valid) return Create(std::min(kInitialSlots, maxSlots_));
  std::vector<unsigned char> table(std::size_t{slots} * kSlotSize);
  if (!file->ReadAt(table.data(), table.size(), kHeaderSize)) return Create(std::min(kInitialSlots, maxSlots_));
  seed_.assign(reinterpret_cast<const char*>(header + kSeedAt), kSeedSize);
  table_ = std::move(table);
  file_ = std::make_unique<platform::SharedFile>(std::move(*file));
  entries_ = 0;
  contextsAtOpen_.clear();
  for (std::size_t slot = 0; slot < slots; ++slot) {
    if (!SlotValid(slot)) continue;
    ++entries_;
    ++contextsAtOpen_[GetLe(&table_[slot * kSlotSize + kContextAt], 8)];
  }
  return Ok();
}

// A new, empty store in place of whatever was there.
Status VerdictStore::Create(std::uint32_t slots) {
  const std::string path = platform::IncludeTrailingDelimiter(folder_) + kStoreFileName;
  const std::string seed = NewSeed();
  std::string content = Header(slots, seed);
  content.resize(kHeaderSize + std::size_t{slots} * kSlotSize, '\0');
  if (Status written = platform::ReplaceFileAtomically(path, content); !written) {
    return written.error().Context("cannot write " + path);
  }
  Expected<platform::SharedFile> file = platform::SharedFile::Open(path);
  if (!file) return file.error().Context(path);
  seed_ = seed;
  table_.assign(content.begin() + kHeaderSize, content.end());
  file_ = std::make_unique<platform::SharedFile>(std::move(*file));
  entries_ = 0;
  contextsAtOpen_.clear();
  return Ok();
}

// Keyed by the store's seed, so that the tags of one store say nothing of another's.
std::string VerdictStore::Tag(const platform::FileStamp& stamp) const {
  unsigned char fields[8 * 8];
  const std::uint64_t values[] = {stamp.volume,
                                  stamp.fileSystem,
                                  stamp.fileHigh,
                                  stamp.fileLow,
                                  stamp.size,
                                  static_cast<std::uint64_t>(stamp.modifiedNs),
                                  static_cast<std::uint64_t>(stamp.changedNs),
                                  stamp.mount};
  for (std::size_t i = 0; i < 8; ++i) PutLe(fields + 8 * i, values[i], 8);
  platform::Sha256 hash;
  hash.Update(seed_);
  hash.Update(std::string_view(reinterpret_cast<const char*>(fields), sizeof fields));
  return hash.Digest().substr(0, kTagSize);
}

std::vector<std::size_t> VerdictStore::SlotsOf(const std::string& tag) const {
  const std::size_t buckets = table_.size() / kSlotSize / kBucketSlots;
  const auto* bytes = reinterpret_cast<const unsigned char*>(tag.data());
  const std::size_t first = static_cast<std::size_t>(GetLe(bytes, 8) & (buckets - 1));
  const std::size_t second = static_cast<std::size_t>(GetLe(bytes + 8, 8) & (buckets - 1));
  std::vector<std::size_t> slots;
  for (std::size_t bucket : {first, second}) {
    if (bucket == second && bucket == first && !slots.empty()) break;
    for (std::size_t slot = bucket * kBucketSlots; slot < (bucket + 1) * kBucketSlots; ++slot) slots.push_back(slot);
  }
  return slots;
}

bool VerdictStore::SlotValid(std::size_t slot) const {
  const unsigned char* at = &table_[slot * kSlotSize];
  return GetLe(at + kContextAt, 8) != 0 && GetLe(at + kCheckAt, 4) == Check(seed_, at, kCheckAt);
}

void VerdictStore::WriteSlot(std::size_t slot) {
  unsigned char* at = &table_[slot * kSlotSize];
  PutLe(at + kCheckAt, Check(seed_, at, kCheckAt), 4);
  if (!file_) return;
  Status wrote = file_->WriteAt(std::string_view(reinterpret_cast<const char*>(at), kSlotSize),
                                kHeaderSize + slot * kSlotSize);
  if (!wrote) {
    writeProblem_ = wrote.error().reason;
    file_.reset();  // the verdicts of this scan stay in memory only
  }
}

std::optional<ContextId> VerdictStore::Find(const platform::FileStamp& stamp) {
  std::lock_guard lock(mutex_);
  const std::string tag = Tag(stamp);
  for (std::size_t slot : SlotsOf(tag)) {
    unsigned char* at = &table_[slot * kSlotSize];
    if (std::memcmp(at, tag.data(), kTagSize) != 0 || !SlotValid(slot)) continue;
    const std::uint32_t now = HoursNow();
    if (now - std::min<std::uint32_t>(now, static_cast<std::uint32_t>(GetLe(at + kUsedAt, 4))) >=
        kUseGranularityHours) {
      PutLe(at + kUsedAt, now, 4);
      WriteSlot(slot);
    }
    return GetLe(at + kContextAt, 8);
  }
  return std::nullopt;
}

void VerdictStore::Forget(const platform::FileStamp& stamp) {
  std::lock_guard lock(mutex_);
  const std::string tag = Tag(stamp);
  for (std::size_t slot : SlotsOf(tag)) {
    unsigned char* at = &table_[slot * kSlotSize];
    if (std::memcmp(at, tag.data(), kTagSize) != 0 || !SlotValid(slot)) continue;
    std::memset(at, 0, kSlotSize);
    --entries_;
    WriteSlot(slot);
  }
}

// Of the two buckets a file may go in: its own entry, else a free slot of the
// emptier bucket, else the least recently used entry of both.
VerdictStore::Placement VerdictStore::Place(const std::string& tag) const {
  std::size_t chosen = 0;
  int rank = -1;  // 2: the same file's entry, 1: a free slot, 0: the oldest so far
  std::uint32_t oldest = 0xFFFFFFFFu;
  std::size_t freeInBucket[2] = {0, 0};
  const std::vector<std::size_t> slots = SlotsOf(tag);
  for (std::size_t i = 0; i < slots.size(); ++i) {
    if (!SlotValid(slots[i])) ++freeInBucket[i / kBucketSlots];
  }
  for (std::size_t i = 0; i < slots.size() && rank < 2; ++i) {
    const std::size_t slot = slots[i];
    const unsigned char* at = &table_[slot * kSlotSize];
    if (!SlotValid(slot)) {
      const bool emptier = freeInBucket[i / kBucketSlots] >= freeInBucket[1 - i / kBucketSlots];
      if (rank < 1 && emptier) chosen = slot, rank = 1;
    } else if (std::memcmp(at, tag.data(), kTagSize) == 0) {
      chosen = slot, rank = 2;
    } else if (rank < 1 && GetLe(at + kUsedAt, 4) < oldest) {
      oldest = static_cast<std::uint32_t>(GetLe(at + kUsedAt, 4));
      chosen = slot, rank = 0;
    }
  }
  return {chosen, rank};
}

void VerdictStore::Put(const platform::FileStamp& stamp, ContextId context) {
  if (context == 0) return;
  std::lock_guard lock(mutex_);
  std::string tag = Tag(stamp);
  Placement place = Place(tag);
  // Both buckets full: a store that may still grow grows rather than lose a verdict.
  if (place.rank == 0 && table_.size() / kSlotSize < maxSlots_ && file_ && Grow()) {
    tag = Tag(stamp);  // the store another scan grew may have another seed
    place = Place(tag);
  }
  if (place.rank == 1) ++entries_;
  unsigned char* at = &table_[place.slot * kSlotSize];
  std::memcpy(at, tag.data(), kTagSize);
  PutLe(at + kContextAt, context, 8);
  PutLe(at + kUsedAt, HoursNow(), 4);
  WriteSlot(place.slot);
  const std::size_t count = table_.size() / kSlotSize;
  // A store that cannot grow now goes on replacing its oldest entries.
  if (entries_ * 4 > count * 3 && count < maxSlots_ && file_) (void)Grow();
}

// The entries move into a table four times as large (at most the bound), written
// as a new file that replaces the old one. What other scans wrote meanwhile is in
// the file and moves along; when one of them has grown the store already, its
// table is taken instead. A scan that finds the lock held goes on as it is.
Status VerdictStore::Grow() {
  Expected<platform::FileLock> held =
      platform::FileLock::Acquire(platform::IncludeTrailingDelimiter(folder_) + kLockFileName, kGrowLockWait);
  if (!held) return held.error();
  const std::size_t oldSlots = table_.size() / kSlotSize;
  const std::string keptSeed = seed_;
  std::vector<unsigned char> mine = table_;
  const std::map<ContextId, std::size_t> atOpen = contextsAtOpen_;
  Status reloaded = Load();
  contextsAtOpen_ = atOpen;
  if (!reloaded) return reloaded;
  if (table_.size() / kSlotSize > oldSlots) return Ok();  // grown by another scan
  std::vector<unsigned char> old = std::move(table_);
  if (seed_ != keptSeed || old.size() != mine.size()) old = std::move(mine), seed_ = keptSeed;
  const auto newSlots = static_cast<std::uint32_t>(std::min<std::size_t>(oldSlots * 4, maxSlots_));
  table_.assign(std::size_t{newSlots} * kSlotSize, 0);
  entries_ = 0;
  for (std::size_t slot = 0; slot < oldSlots; ++slot) {
    const unsigned char* from = &old[slot * kSlotSize];
    if (GetLe(from + kContextAt, 8) == 0 || GetLe(from + kCheckAt, 4) != Check(seed_, from, kCheckAt)) continue;
    const Placement to = Place(std::string(reinterpret_cast<const char*>(from), kTagSize));
    if (to.rank != 1) continue;
    std::memcpy(&table_[to.slot * kSlotSize], from, kSlotSize);
    ++entries_;
  }
  std::string content = Header(newSlots, seed_);
  content.append(reinterpret_cast<const char*>(table_.data()), table_.size());
  const std::string path = platform::IncludeTrailingDelimiter(folder_) + kStoreFileName;
  file_.reset();
  if (Status written = platform::ReplaceFileAtomically(path, content); !written) {
    return written.error().Context("cannot write " + path);
  }
  Expected<platform::SharedFile> file = platform::SharedFile::Open(path);
  if (!file) return file.error();
  file_ = std::make_unique<platform::SharedFile>(std::move(*file));
  return Ok();
}

std::uint32_t VerdictStore::Slots() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::uint32_t>(table_.size() / kSlotSize);
}

std::size_t VerdictStore::Entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

std::string VerdictStore::WriteProblem() const {
  std::lock_guard lock(mutex_);
  return writeProblem_;
}

}  // namespace korbu::cache
