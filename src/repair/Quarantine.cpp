#include "repair/Quarantine.h"

#include <nlohmann/json.hpp>

#include "platform/Sha256.h"
#include "platform/SystemError.h"
#include "repair/Journal.h"

namespace korbu {
namespace {

constexpr std::string_view kMagic = "KORBU-QUARANTINE 1\n";
constexpr std::size_t kBlockBytes = 1 << 16;
// The record line: a path of a few KiB at most, escaped.
constexpr std::size_t kMaxRecordBytes = 1 << 16;

// XOR is its own inverse: the same call neuters and restores. offset is where
// the bytes stand in the original content.
void Neuter(char* bytes, std::size_t count, std::uint64_t offset) {
  for (std::size_t i = 0; i < count; ++i) {
    bytes[i] = static_cast<char>(static_cast<unsigned char>(bytes[i]) ^ kQuarantineKey[(offset + i) % sizeof kQuarantineKey]);
  }
}

// Calls use for each block of the file from offset on, until its end.
template <typename Use>
Status ForEachBlock(platform::InputFile& file, std::uint64_t offset, Use use) {
  std::string block(kBlockBytes, '\0');
  while (true) {
    const std::int64_t got = file.ReadAt(block.data(), block.size(), offset);
    if (got < 0) return platform::LastSystemError();
    if (got == 0) return Ok();
    const Status used = use(block.data(), static_cast<std::size_t>(got), offset);
    if (!used) return used;
    offset += static_cast<std::uint64_t>(got);
  }
}

struct OpenedItem {
  platform::Folder::HeldFile held;
  QuarantinedFile record;
  std::uint64_t contentStart = 0;
};

Expected<OpenedItem> OpenItem(const platform::Folder& quarantine, const std::string& itemName) {
  auto held = quarantine.OpenRegular(itemName);
  if (!held) return held.error();
  if (const Status own = CheckOwnRecord(held->status, quarantine.PathOf(itemName)); !own) return own.error();
  std::string head(kMagic.size() + kMaxRecordBytes, '\0');
  const std::int64_t got = held->file.ReadAt(head.data(), head.size(), 0);
  if (got < 0) return platform::LastSystemError();
  head.resize(static_cast<std::size_t>(got));
  const std::size_t end = head.find('\n', kMagic.size());
  if (head.compare(0, kMagic.size(), kMagic) != 0 || end == std::string::npos) {
    return Failure(quarantine.PathOf(itemName) + " is no quarantined file");
  }
  const auto record = nlohmann::json::parse(head.begin() + static_cast<std::ptrdiff_t>(kMagic.size()),
                                            head.begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
  const auto path = record.is_object() ? UnescapeBytes(record.value("path", "")) : std::nullopt;
  if (!path || path->empty()) return Failure(quarantine.PathOf(itemName) + " is no quarantined file");
  OpenedItem item{std::move(*held), {}, end + 1};
  item.record.path = *path;
  item.record.size = record.value("size", std::uint64_t{0});
  item.record.sha256 = record.value("sha256", "");
  item.record.ownership.mode = record.value("mode", 0600u) & 07777u;
  if (record.contains("owner")) item.record.ownership.owner = record.value("owner", 0u);
  if (record.contains("group")) item.record.ownership.group = record.value("group", 0u);
  return item;
}

}  // namespace

Expected<QuarantinedFile> QuarantineFile(platform::Folder::HeldFile& source, const std::string& path,
                                         const platform::Folder& quarantine, const std::string& itemName,
                                         std::string_view virusName) {
  const auto sha256 = platform::Sha256OfFile(source.file);
  if (!sha256) return platform::LastSystemError().Context("it cannot be read");
  const QuarantinedFile file{path, source.status.size, *sha256,
                             {source.status.mode, source.status.owner, source.status.group}};
  nlohmann::json record = {
      {"path", EscapeBytes(path)}, {"size", file.size},   {"sha256", file.sha256},
      {"virus", EscapeBytes(virusName)}, {"mode", file.ownership.mode}, {"modified", source.status.lastWriteTime},
      {"quarantined", UtcNow()},
  };
  if (file.ownership.owner) record["owner"] = *file.ownership.owner;
  if (file.ownership.group) record["group"] = *file.ownership.group;

  auto item = quarantine.BeginFile(itemName);
  if (!item) return item.error();
  platform::DurableFile& out = item->Content();
  if (!out.Write(kMagic) || !out.Write(record.dump() + "\n")) {
    return platform::LastSystemError().Context(quarantine.PathOf(itemName));
  }
  platform::Sha256 hash;
  std::uint64_t copied = 0;
  const Status read = ForEachBlock(source.file, 0, [&](char* bytes, std::size_t count, std::uint64_t offset) -> Status {
    hash.Update(std::string_view(bytes, count));
    Neuter(bytes, count, offset);
    if (!out.Write(std::string_view(bytes, count))) return platform::LastSystemError().Context(quarantine.PathOf(itemName));
    copied += count;
    return Ok();
  });
  if (!read) return read.error();
  if (copied != file.size || hash.HexDigest() != file.sha256) return Failure("it changed while it was being copied");
  const Status kept = item->CommitUnsynced();
  if (!kept) return kept.error();
  return file;
}

Expected<QuarantinedFile> ReadQuarantineRecord(const platform::Folder& quarantine, const std::string& itemName) {
  auto item = OpenItem(quarantine, itemName);
  if (!item) return item.error();
  return std::move(item->record);
}

Status CopyFromQuarantine(const platform::Folder& quarantine, const std::string& itemName, std::uint64_t size,
                          const std::string& sha256, platform::DurableFile& into) {
  auto item = OpenItem(quarantine, itemName);
  if (!item) return item.error();
  const Error damaged = Failure("its quarantined copy " + quarantine.PathOf(itemName) + " is damaged");
  if (item->record.size != size || item->record.sha256 != sha256) return damaged;
  platform::Sha256 hash;
  std::uint64_t copied = 0;
  const std::uint64_t start = item->contentStart;
  const Status read = ForEachBlock(item->held.file, start, [&](char* bytes, std::size_t count, std::uint64_t offset) -> Status {
    Neuter(bytes, count, offset - start);
    hash.Update(std::string_view(bytes, count));
    if (!into.Write(std::string_view(bytes, count))) return platform::LastSystemError();
    copied += count;
    return Ok();
  });
  if (!read) return read;
  if (copied != size || hash.HexDigest() != sha256) return damaged;
  return Ok();
}

}  // namespace korbu
