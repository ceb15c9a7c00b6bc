// Transaction logs beside a hive: any log is replayed without harm. A replay
// that fails leaves the hive as it was; one that succeeds leaves it clean (both
// sequence numbers equal, the checksum right), grown by no more than its logs
// hold, and naming only logs it was given; a clean hive is left alone, so a
// second replay changes nothing.
//
// The input: a flags byte, the number of 4 KiB hive bins pages, the base
// block's two sequence numbers, a pattern the bins are filled with, then the
// bodies of one or two logs (after their base block, which is the hive's own).
// The harness seals what a fuzzer cannot guess (checksums, the Marvin32 hashes
// of log entries) where the flags say so, so that the replay itself is reached.

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/rescue/HiveImage.h"
#include "platform/rescue/HiveLogs.h"

using korbu::fuzz::Check;
using korbu::fuzz::InputSplitter;
namespace rescue = korbu::platform::rescue;

namespace {

constexpr unsigned kSealHive = 1;
constexpr unsigned kSealLogs = 2;
constexpr unsigned kHashEntries = 4;
constexpr unsigned kOldFormat = 8;
constexpr unsigned kTwoLogs = 16;
constexpr std::size_t kSector = 512;
constexpr std::uint64_t kEntrySeed = 0x82EF4D887A4E55C5ULL;

std::uint32_t Le32(InputSplitter& in) {
  std::uint32_t value = 0;
  for (int i = 0; i < 4; ++i) value |= static_cast<std::uint32_t>(in.Byte()) << (8 * i);
  return value;
}

void PutLe64(std::string& bytes, std::size_t at, std::uint64_t value) {
  rescue::PutLe32(bytes, at, static_cast<std::uint32_t>(value));
  rescue::PutLe32(bytes, at + 4, static_cast<std::uint32_t>(value >> 32));
}

// Gives every entry of the chain from the log's second sector the hashes it needs.
void HashEntries(std::string& log) {
  for (std::size_t at = kSector; log.size() - at >= 40 && log.compare(at, 4, "HvLE") == 0;) {
    const std::size_t size = rescue::Le32At(log, at + 4);
    if (size < 40 || size % kSector != 0 || size > log.size() - at) return;
    std::string entry = log.substr(at, size);
    PutLe64(entry, 24, rescue::Marvin32(std::string_view(entry).substr(40), kEntrySeed));
    PutLe64(entry, 32, rescue::Marvin32(std::string_view(entry).substr(0, 32), kEntrySeed));
    log.replace(at, size, entry);
    at += size;
  }
}

rescue::HiveLog MakeLog(const std::string& name, const std::string& hive, std::string_view body, unsigned flags) {
  std::string log = hive.substr(0, kSector);
  rescue::PutLe32(log, rescue::base::kFileType, (flags & kOldFormat) != 0 ? 1 : 6);
  if ((flags & kSealLogs) != 0) rescue::SealBaseBlock(log);
  log.append(body);
  if ((flags & kHashEntries) != 0) HashEntries(log);
  return {name, std::move(log)};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  InputSplitter in(data, size);
  const unsigned flags = in.Byte();
  const std::size_t pages = in.Byte() % 8;
  std::string hive(rescue::kBaseBlockBytes + pages * rescue::kHiveBinAlignment, '\0');
  hive.replace(0, 4, "regf");
  rescue::PutLe32(hive, rescue::base::kPrimarySequence, Le32(in));
  rescue::PutLe32(hive, rescue::base::kSecondarySequence, Le32(in));
  rescue::PutLe32(hive, rescue::base::kBinsSize, static_cast<std::uint32_t>(pages * rescue::kHiveBinAlignment));
  const std::string_view pattern = in.Part();
  for (std::size_t at = rescue::kBaseBlockBytes; !pattern.empty() && at < hive.size(); at += pattern.size()) {
    hive.replace(at, std::min(pattern.size(), hive.size() - at), pattern.substr(0, hive.size() - at));
  }
  if ((flags & kSealHive) != 0) rescue::SealBaseBlock(hive);

  const std::string_view bodies = in.Rest();
  std::vector<rescue::HiveLog> logs;
  if ((flags & kTwoLogs) != 0) {
    // The first log takes a whole number of sectors, so that each can hold entries.
    const std::size_t cut = std::min(bodies.size(), bodies.size() / 2 / kSector * kSector);
    logs.push_back(MakeLog("SYSTEM.LOG1", hive, bodies.substr(0, cut), flags));
    logs.push_back(MakeLog("SYSTEM.LOG2", hive, bodies.substr(cut), flags));
  } else {
    logs.push_back(MakeLog("SYSTEM.LOG1", hive, bodies, flags));
  }
  std::size_t logBytes = 0;
  for (const rescue::HiveLog& log : logs) logBytes += log.bytes.size();

  const bool clean = rescue::ChecksumRight(hive) && !rescue::SequencesDiffer(hive);
  std::string replayed = hive;
  const auto replay = rescue::ReplayLogs(replayed, logs);
  if (!replay) {
    Check(replayed == hive, "a failed replay leaves the hive as it was");
    Check(!clean, "a clean hive needs no replay");
    return 0;
  }
  Check(!rescue::SequencesDiffer(replayed) && rescue::ChecksumRight(replayed), "a replayed hive is clean");
  Check(replayed.size() <= hive.size() + logBytes, "a hive grows by no more than its logs hold");
  if (clean) Check(!replay->replayed && replayed == hive, "a clean hive is left alone");
  for (const std::string& used : replay->used) {
    Check(used == "SYSTEM.LOG1" || used == "SYSTEM.LOG2", "only the logs given are used");
  }
  Check(replay->replayed == !replay->used.empty(), "a replay names the logs it used");
  (void)rescue::CheckHiveImage(replayed);

  std::string again = replayed;
  const auto second = rescue::ReplayLogs(again, logs);
  Check(second && !second->replayed && again == replayed, "a second replay changes nothing");
  return 0;
}
