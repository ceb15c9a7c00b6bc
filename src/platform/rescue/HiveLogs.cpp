#include "platform/rescue/HiveLogs.h"

#include <algorithm>
#include <bit>
#include <map>

#include "platform/rescue/HiveImage.h"

namespace korbu::platform::rescue {
namespace {

constexpr std::size_t kSector = 512;
constexpr std::uint32_t kOldLogType = 1;
constexpr std::uint32_t kOldLogTypeAlternate = 2;
constexpr std::uint32_t kNewLogType = 6;
constexpr std::uint64_t kLogEntrySeed = 0x82EF4D887A4E55C5ULL;
constexpr std::size_t kEntryHeader = 40;

// The log's copy of the first sector of the base block, when it is whole and
// its checksum right.
bool LogBaseBlockValid(const std::string& log) {
  return log.size() >= kSector && log.compare(0, 4, "regf") == 0 && ChecksumRight(log);
}

// A log entry of the new format, checked.
struct Entry {
  std::uint32_t sequence = 0;
  std::uint32_t binsSize = 0;
  std::string_view refs;   // 8 bytes a page: offset, size
  std::string_view pages;  // the pages one after the other
};

// The valid entries of a new-format log in order, up to the first that is not.
std::vector<Entry> ReadEntries(std::string_view log) {
  std::vector<Entry> entries;
  for (std::size_t at = kSector; log.size() - at >= kEntryHeader; ) {
    if (log.substr(at, 4) != "HvLE") break;
    const std::size_t size = Le32At(log, at + 4);
    if (size < kEntryHeader || size % kSector != 0 || size > log.size() - at) break;
    const std::string_view entry = log.substr(at, size);
    Entry e;
    e.sequence = Le32At(entry, 12);
    e.binsSize = Le32At(entry, 16);
    const std::size_t count = Le32At(entry, 20);
    const std::uint64_t hash1 = static_cast<std::uint64_t>(Le32At(entry, 24)) |
                                (static_cast<std::uint64_t>(Le32At(entry, 28)) << 32);
    const std::uint64_t hash2 = static_cast<std::uint64_t>(Le32At(entry, 32)) |
                                (static_cast<std::uint64_t>(Le32At(entry, 36)) << 32);
    if (Marvin32(entry.substr(0, 32), kLogEntrySeed) != hash2) break;
    if (Marvin32(entry.substr(kEntryHeader), kLogEntrySeed) != hash1) break;
    if (e.binsSize % kHiveBinAlignment != 0 || count > (size - kEntryHeader) / 8) break;
    e.refs = entry.substr(kEntryHeader, count * 8);
    e.pages = entry.substr(kEntryHeader + count * 8);
    std::size_t total = 0;
    bool fits = true;
    for (std::size_t i = 0; i < count && fits; ++i) {
      const std::size_t offset = Le32At(e.refs, i * 8);
      const std::size_t length = Le32At(e.refs, i * 8 + 4);
      fits = length <= e.pages.size() - total && offset <= e.binsSize && length <= e.binsSize - offset;
      total += length;
    }
    if (!fits) break;
    entries.push_back(e);
    at += size;
  }
  return entries;
}

void ApplyEntry(std::string& hive, const Entry& e) {
  if (hive.size() < kBaseBlockBytes + e.binsSize) hive.resize(kBaseBlockBytes + e.binsSize, '\0');
  std::size_t from = 0;
  for (std::size_t i = 0; i * 8 < e.refs.size(); ++i) {
    const std::size_t offset = Le32At(e.refs, i * 8);
    const std::size_t length = Le32At(e.refs, i * 8 + 4);
    hive.replace(kBaseBlockBytes + offset, length, e.pages.substr(from, length));
    from += length;
  }
  PutLe32(hive, base::kBinsSize, e.binsSize);
}

// Applies the new-format entries of every log that follow the hive's own state,
// in sequence: Windows splits entries between .LOG1 and .LOG2.
Expected<HiveReplay> ReplayNew(std::string& hive, const std::vector<const HiveLog*>& logs) {
  std::map<std::uint32_t, std::pair<Entry, const HiveLog*>> bySequence;
  for (const HiveLog* log : logs) {
    for (const Entry& e : ReadEntries(log->bytes)) bySequence.emplace(e.sequence, std::make_pair(e, log));
  }
  // Bins the hive grows by are pages of its logs: no entry claims a hive larger
  // than the hive read and all its logs together, however many entries there are.
  std::size_t limit = hive.size();
  for (const HiveLog* log : logs) limit += log->bytes.size();
  const std::uint32_t primary = Le32At(hive, base::kPrimarySequence);
  auto next = bySequence.lower_bound(primary);
  if (next == bySequence.end()) return Failure("no entry of its logs follows the hive's own state");
  HiveReplay replay;
  std::uint32_t sequence = next->first;
  for (; next != bySequence.end() && next->first == sequence; ++next, ++sequence) {
    if (kBaseBlockBytes + std::size_t{next->second.first.binsSize} > limit) break;
    ApplyEntry(hive, next->second.first);
    replay.sequence = next->first;
    const std::string& name = next->second.second->name;
    if (std::find(replay.used.begin(), replay.used.end(), name) == replay.used.end()) replay.used.push_back(name);
  }
  if (replay.used.empty()) return Failure("the first entry of its logs that follows the hive's own state is bogus");
  replay.replayed = true;
  return replay;
}

// Applies an old-format log whose time stamp is the hive's own.
Expected<HiveReplay> ReplayOld(std::string& hive, const HiveLog& log) {
  if (Le32At(log.bytes, base::kPrimarySequence) != Le32At(log.bytes, base::kSecondarySequence)) {
    return Failure(log.name + " was not written whole");
  }
  if (log.bytes.compare(base::kTimestamp, 8, hive, base::kTimestamp, 8) != 0) {
    return Failure(log.name + " belongs to another state of the hive");
  }
  const std::size_t bins = Le32At(log.bytes, base::kBinsSize);
  // Bins the hive grew by are pages of the log: no more can be new.
  if (kBaseBlockBytes + bins > hive.size() + log.bytes.size()) {
    return Failure(log.name + " claims more hive bins than it can hold");
  }
  const std::size_t bits = bins / kSector;
  const std::size_t vectorBytes = 4 + (bits + 7) / 8;
  if (log.bytes.size() < kSector + vectorBytes || log.bytes.compare(kSector, 4, "DIRT") != 0) {
    return Failure(log.name + " holds no dirty vector");
  }
  std::size_t page = (kSector + vectorBytes + kSector - 1) / kSector * kSector;
  std::string recovered = hive;
  recovered.resize(std::max(recovered.size(), kBaseBlockBytes + bins), '\0');
  for (std::size_t bit = 0; bit < bits; ++bit) {
    const auto byte = static_cast<unsigned char>(log.bytes[kSector + 4 + bit / 8]);
    if ((byte & (1u << (bit % 8))) == 0) continue;
    if (page > log.bytes.size() || log.bytes.size() - page < kSector) return Failure(log.name + " is cut short");
    recovered.replace(kBaseBlockBytes + bit * kSector, kSector, log.bytes, page, kSector);
    page += kSector;
  }
  recovered.replace(0, kSector, log.bytes, 0, kSector);
  hive = std::move(recovered);
  HiveReplay replay;
  replay.replayed = true;
  replay.used.push_back(log.name);
  replay.sequence = Le32At(log.bytes, base::kPrimarySequence);
  return replay;
}

}  // namespace

std::uint64_t Marvin32(std::string_view data, std::uint64_t seed) {
  auto lo = static_cast<std::uint32_t>(seed);
  auto hi = static_cast<std::uint32_t>(seed >> 32);
  const auto mix = [&] {
    hi ^= lo;
    lo = std::rotl(lo, 20);
    lo += hi;
    hi = std::rotl(hi, 9);
    hi ^= lo;
    lo = std::rotl(lo, 27);
    lo += hi;
    hi = std::rotl(hi, 19);
  };
  std::size_t at = 0;
  for (; data.size() - at >= 4; at += 4) {
    lo += Le32At(data, at);
    mix();
  }
  std::uint32_t last = 0x80;
  for (std::size_t i = 0; at + i < data.size(); ++i) {
    last = (last << 8) | static_cast<unsigned char>(data[data.size() - 1 - i]);
  }
  lo += last;
  mix();
  mix();
  return (static_cast<std::uint64_t>(hi) << 32) | lo;
}

Expected<HiveReplay> ReplayLogs(std::string& hive, const std::vector<HiveLog>& logs) {
  if (hive.size() < kBaseBlockBytes || hive.compare(0, 4, "regf") != 0) return Failure("not a registry hive");
  const bool checksumRight = ChecksumRight(hive);
  if (checksumRight && !SequencesDiffer(hive)) return HiveReplay{};
  std::vector<const HiveLog*> newFormat;
  std::vector<const HiveLog*> oldFormat;
  for (const HiveLog& log : logs) {
    if (!LogBaseBlockValid(log.bytes)) continue;
    const std::uint32_t type = Le32At(log.bytes, base::kFileType);
    if (type == kNewLogType) newFormat.push_back(&log);
    if (type == kOldLogType || type == kOldLogTypeAlternate) oldFormat.push_back(&log);
  }
  if (newFormat.empty() && oldFormat.empty()) return Failure("no transaction log of it can be read");
  std::string recovered = hive;
  // A base block that does not add up is taken from the log, as Windows does.
  if (!checksumRight) {
    const HiveLog& log = newFormat.empty() ? *oldFormat.front() : *newFormat.front();
    recovered.replace(0, kSector, log.bytes, 0, kSector);
    PutLe32(recovered, base::kSecondarySequence, Le32At(recovered, base::kPrimarySequence) - 1);
  }
  Expected<HiveReplay> replay = Failure("no transaction log of it applies");
  if (!newFormat.empty()) {
    replay = ReplayNew(recovered, newFormat);
  } else {
    for (const HiveLog* log : oldFormat) {
      replay = ReplayOld(recovered, *log);
      if (replay) break;
    }
  }
  if (!replay) return replay.error();
  PutLe32(recovered, base::kPrimarySequence, replay->sequence);
  PutLe32(recovered, base::kSecondarySequence, replay->sequence);
  PutLe32(recovered, base::kFileType, 0);
  SealBaseBlock(recovered);
  hive = std::move(recovered);
  return replay;
}

}  // namespace korbu::platform::rescue
