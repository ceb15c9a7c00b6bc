#include "rescue/HiveLogForge.h"

#include "platform/rescue/HiveImage.h"
#include "platform/rescue/HiveLogs.h"

namespace korbu::test {
namespace {

using platform::rescue::Le32At;
using platform::rescue::Marvin32;
using platform::rescue::PutLe32;

constexpr std::size_t kSector = 512;
constexpr std::size_t kPage = 4096;
constexpr std::size_t kHeader = 40;
constexpr std::uint64_t kSeed = 0x82EF4D887A4E55C5ULL;

void PutLe64(std::string& bytes, std::size_t at, std::uint64_t value) {
  PutLe32(bytes, at, static_cast<std::uint32_t>(value));
  PutLe32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

std::uint64_t Le64At(const std::string& bytes, std::size_t at) {
  return Le32At(bytes, at) | (static_cast<std::uint64_t>(Le32At(bytes, at + 4)) << 32);
}

// Where the chain of entries whose hashes check ends.
std::size_t ChainEnd(const std::string& log) {
  std::size_t at = kSector;
  while (log.size() - at >= kHeader && log.compare(at, 4, "HvLE") == 0) {
    const std::size_t size = Le32At(log, at + 4);
    if (size < kHeader || size % kSector != 0 || size > log.size() - at) break;
    const std::string entry = log.substr(at, size);
    if (Marvin32(std::string_view(entry).substr(0, 32), kSeed) != Le64At(entry, 32)) break;
    if (Marvin32(std::string_view(entry).substr(kHeader), kSeed) != Le64At(entry, 24)) break;
    at += size;
  }
  return at;
}

}  // namespace

std::string LogEntry(std::uint32_t sequence, std::uint32_t binsSize, const std::string& refs, const std::string& pages) {
  std::string entry(kHeader, '\0');
  entry.replace(0, 4, "HvLE");
  PutLe32(entry, 12, sequence);
  PutLe32(entry, 16, binsSize);
  PutLe32(entry, 20, static_cast<std::uint32_t>(refs.size() / 8));
  entry += refs + pages;
  entry.resize((entry.size() + kSector - 1) / kSector * kSector, '\0');
  PutLe32(entry, 4, static_cast<std::uint32_t>(entry.size()));
  PutLe64(entry, 24, Marvin32(std::string_view(entry).substr(kHeader), kSeed));
  PutLe64(entry, 32, Marvin32(std::string_view(entry).substr(0, 32), kSeed));
  return entry;
}

std::string WithLogEntry(const std::string& log, std::uint32_t sequence, const std::string& recovered,
                         const std::string& changed) {
  std::string refs;
  std::string pages;
  for (std::size_t page = kPage; page + kPage <= changed.size(); page += kPage) {
    if (recovered.compare(page, kPage, changed, page, kPage) == 0) continue;
    std::string ref(8, '\0');
    PutLe32(ref, 0, static_cast<std::uint32_t>(page - kPage));
    PutLe32(ref, 4, static_cast<std::uint32_t>(kPage));
    refs += ref;
    pages += changed.substr(page, kPage);
  }
  const std::string entry = LogEntry(sequence, Le32At(changed, platform::rescue::base::kBinsSize), refs, pages);
  std::string out = log;
  const std::size_t at = ChainEnd(out);
  if (out.size() < at + entry.size()) out.resize(at + entry.size(), '\0');
  out.replace(at, entry.size(), entry);
  // What follows is no entry: a stale one with a higher number must not chain on.
  if (out.size() - (at + entry.size()) >= 4) out.replace(at + entry.size(), 4, std::string(4, '\0'));
  return out;
}

int RewriteValueData(std::string& hive, const std::string& valueName, const std::string& from, const std::string& to) {
  int count = 0;
  // A value record: the cell's size, "vk", the name's length, the data's length
  // and offset; the name (ASCII, compressed) from 0x18.
  for (std::size_t at = hive.find(valueName); at != std::string::npos; at = hive.find(valueName, at + 1)) {
    if (at < 0x18) continue;
    const std::size_t cell = at - 0x18;
    if (hive.compare(cell + 4, 2, "vk") != 0 || (Le32At(hive, cell + 4) >> 16) != valueName.size()) continue;
    if (Le32At(hive, cell + 8) != from.size()) continue;
    const std::size_t data = kPage + Le32At(hive, cell + 12) + 4;
    if (data + from.size() > hive.size() || hive.compare(data, from.size(), from) != 0) continue;
    hive.replace(data, to.size(), to);
    ++count;
  }
  return count;
}

}  // namespace korbu::test
