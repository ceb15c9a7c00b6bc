#include "cache/CacheIndex.h"

#include <algorithm>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "engine/SignatureLines.h"
#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/HexText.h"
#include "platform/Path.h"
#include "platform/SharedFile.h"

namespace korbu::cache {
namespace {

using nlohmann::json;

constexpr char kIndexFileName[] = "index.json";
constexpr char kRecordsFolder[] = "records";
constexpr char kSmallEnginesFolder[] = "small";
constexpr int kIndexFormat = 1;
constexpr auto kIndexLockWait = std::chrono::milliseconds(200);
constexpr std::uint64_t kMaxIndexBytes = 16u << 20;
constexpr std::uint64_t kMaxRecordBytes = std::uint64_t{1} << 31;
constexpr std::int64_t kSecondsFrom1970To2020 = 1577836800;

std::string Join(const std::string& folder, const std::string& name) {
  return platform::IncludeTrailingDelimiter(folder) + name;
}

// The whole of a file of the folder, when it is the user's own regular file.
std::optional<std::string> ReadOwnFile(const std::string& path, std::uint64_t maxBytes) {
  Expected<platform::SharedFile> file = platform::SharedFile::Open(path);
  if (!file) return std::nullopt;
  Expected<std::uint64_t> size = file->Size();
  if (!size || *size > maxBytes) return std::nullopt;
  std::string content(static_cast<std::size_t>(*size), '\0');
  if (!file->ReadAt(content.data(), content.size(), 0)) return std::nullopt;
  return content;
}

Status WriteOwnFile(const std::string& path, const std::string& content) {
  // Whatever else is at the name (a link, a file of someone else's) goes unread.
  // One that cannot be removed makes the write fail, and says why.
  if (platform::GetEntryInfo(path) && !platform::SharedFile::Open(path)) static_cast<void>(platform::DeleteFile(path));
  if (Status written = platform::ReplaceFileAtomically(path, content); !written) {
    return written.error().Context("cannot write " + path);
  }
  return Ok();
}

std::uint32_t HoursNow() {
  const std::int64_t hours = (platform::NowNs() / 1000000000LL - kSecondsFrom1970To2020) / 3600;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(hours, 0, 0xFFFFFFFFLL));
}

bool IsHexName(const std::string& text) {
  return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return platform::IsHexDigit(c); });
}

bool IsKind(const std::string& kind) {
  return !kind.empty() && kind.size() < 8 &&
         std::all_of(kind.begin(), kind.end(), [](char c) { return (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9'); });
}

// The entries of one of the cache's own folders, as far as it could be listed:
// what a failed listing hides stays until a later scan tidies up.
std::vector<platform::EntryInfo> EntriesOf(const std::string& path) {
  std::vector<platform::EntryInfo> entries;
  static_cast<void>(platform::ListFolder(path, "*", [&](const platform::EntryInfo& entry) {
    entries.push_back(entry);
    return true;
  }));
  return entries;
}

// What cannot be removed stays, as a failed listing's entries do.
void RemoveTree(const std::string& path) {
  for (const platform::EntryInfo& entry : EntriesOf(path)) {
    const std::string inner = Join(path, entry.name);
    if (entry.kind == platform::EntryKind::Directory) {
      RemoveTree(inner);
    } else {
      static_cast<void>(platform::DeleteFile(inner));
    }
  }
  static_cast<void>(platform::RemoveDirectory(path));
}

std::string ShortName(const std::string& setDigest) { return setDigest.substr(0, 16); }

json StampJson(const platform::FileStamp& s) {
  return json::array({s.volume, s.fileSystem, s.fileHigh, s.fileLow, s.size, s.modifiedNs, s.changedNs, s.mount});
}

std::optional<platform::FileStamp> StampFromJson(const json& j) {
  if (!j.is_array() || j.size() != 8) return std::nullopt;
  for (const json& v : j) {
    if (!v.is_number_integer()) return std::nullopt;
  }
  platform::FileStamp s;
  s.volume = j[0].get<std::uint64_t>();
  s.fileSystem = j[1].get<std::uint64_t>();
  s.fileHigh = j[2].get<std::uint64_t>();
  s.fileLow = j[3].get<std::uint64_t>();
  s.size = j[4].get<std::uint64_t>();
  s.modifiedNs = j[5].get<std::int64_t>();
  s.changedNs = j[6].get<std::int64_t>();
  s.mount = j[7].get<std::uint64_t>();
  return s;
}

}  // namespace

CacheIndex::CacheIndex(std::string folder) : folder_(std::move(folder)) {
  const std::optional<std::string> text = ReadOwnFile(Join(folder_, kIndexFileName), kMaxIndexBytes);
  if (!text) return;
  const json doc = json::parse(*text, nullptr, false);
  if (!doc.is_object() || doc.value("format", 0) != kIndexFormat) return;
  try {
    for (const json& c : doc.at("contexts")) {
      ContextEntry entry;
      entry.id = std::stoull(c.at("id").get<std::string>(), nullptr, 16);
      entry.settings = c.at("settings").get<std::string>();
      entry.set = c.at("set").get<std::string>();
      entry.used = c.at("used").get<std::uint32_t>();
      for (const json& d : c.at("databases")) {
        entry.databases.push_back({d.at("name").get<std::string>(), d.at("digest").get<std::string>()});
      }
      if (entry.id != 0) contexts_.push_back(std::move(entry));
    }
    for (const json& f : doc.at("files")) {
      std::optional<platform::FileStamp> stamp = StampFromJson(f.at("stamp"));
      if (stamp) files_.push_back({f.at("name").get<std::string>(), *stamp, f.at("digest").get<std::string>()});
    }
  } catch (const std::exception&) {
    contexts_.clear();
    files_.clear();
  }
}

std::optional<ContextEntry> CacheIndex::Context(ContextId id) const {
  for (const ContextEntry& entry : contexts_) {
    if (entry.id == id) return entry;
  }
  return std::nullopt;
}

std::string CacheIndex::KnownDigest(const std::string& name, const platform::FileStamp& stamp) const {
  for (const KnownFile& file : files_) {
    if (file.name == name && file.stamp.SameAs(stamp)) return file.digest;
  }
  return std::string();
}

Status CacheIndex::Use(const ContextEntry& context, const DatabaseSet* set) {
  Expected<platform::FileLock> lock = platform::FileLock::Acquire(Join(folder_, kLockFileName), kIndexLockWait);
  if (!lock) return lock.error();
  // Another scan may have written the index since it was read: theirs, with this
  // context put first.
  CacheIndex fresh(folder_);
  contexts_ = std::move(fresh.contexts_);
  contexts_.erase(std::remove_if(contexts_.begin(), contexts_.end(),
                                 [&](const ContextEntry& e) { return e.id == context.id; }),
                  contexts_.end());
  ContextEntry current = context;
  current.used = HoursNow();
  contexts_.insert(contexts_.begin(), current);
  std::stable_sort(contexts_.begin(), contexts_.end(),
                   [](const ContextEntry& a, const ContextEntry& b) { return a.used > b.used; });
  if (contexts_.size() > kKeptContexts) contexts_.resize(kKeptContexts);
  if (set != nullptr) {
    files_.clear();
    for (const DatabaseFileIdentity& file : set->files) files_.push_back({file.name, file.stamp, file.digest});
  }

  // Records no kept context needs, and plans that do not lead to this set, go.
  std::set<std::string> needed;
  for (const ContextEntry& entry : contexts_) {
    for (const IndexedDatabase& database : entry.databases) {
      needed.insert(database.digest + "." + DatabaseKind(database.name) + ".rec");
    }
  }
  const std::string records = Join(folder_, kRecordsFolder);
  std::vector<std::string> stale;
  for (const platform::EntryInfo& entry : EntriesOf(records)) {
    if (needed.count(entry.name) == 0) stale.push_back(entry.name);
  }
  for (const std::string& name : stale) static_cast<void>(platform::DeleteFile(Join(records, name)));
  const std::string small = Join(folder_, kSmallEnginesFolder);
  stale.clear();
  const std::string suffix = "-" + ShortName(context.set);
  for (const platform::EntryInfo& entry : EntriesOf(small)) {
    const bool leadsHere = entry.name.size() > suffix.size() &&
                           entry.name.compare(entry.name.size() - suffix.size(), suffix.size(), suffix) == 0;
    if (!leadsHere || entry.name.front() == '.') stale.push_back(entry.name);
  }
  for (const std::string& name : stale) RemoveTree(Join(small, name));
  return Write();
}

Status CacheIndex::Write() const {
  json doc;
  doc["format"] = kIndexFormat;
  json contexts = json::array();
  for (const ContextEntry& entry : contexts_) {
    json databases = json::array();
    for (const IndexedDatabase& d : entry.databases) databases.push_back({{"name", d.name}, {"digest", d.digest}});
    contexts.push_back({{"id", platform::HexNumber(entry.id, 16)},
                        {"settings", entry.settings},
                        {"set", entry.set},
                        {"used", entry.used},
                        {"databases", std::move(databases)}});
  }
  doc["contexts"] = std::move(contexts);
  json files = json::array();
  for (const KnownFile& file : files_) {
    files.push_back({{"name", file.name}, {"stamp", StampJson(file.stamp)}, {"digest", file.digest}});
  }
  doc["files"] = std::move(files);
  return WriteOwnFile(Join(folder_, kIndexFileName), doc.dump(1) + "\n");
}

Expected<SignatureRecord> CacheIndex::Record(const std::string& digest, const std::string& kind,
                                             const std::string& path) {
  if (!IsHexName(digest) || !IsKind(kind)) return Failure("not a database digest");
  const std::string records = Join(folder_, kRecordsFolder);
  const std::string file = Join(records, digest + "." + kind + ".rec");
  if (std::optional<std::string> bytes = ReadOwnFile(file, kMaxRecordBytes)) {
    if (Expected<SignatureRecord> record = ParseRecord(*bytes)) return record;
  }
  if (path.empty()) return Failure("no signature record of " + digest.substr(0, 16));
  Expected<SignatureRecord> record = RecordDatabase(path);
  if (!record) return record.error().Context(path);
  // Kept for the next update; a failure to keep it only costs that update a full scan.
  if (platform::EnsurePrivateFolder(records)) (void)WriteOwnFile(file, SerializeRecord(*record));
  return record;
}

Status CacheIndex::KeepRecord(const std::string& digest, const std::string& kind, const std::string& path) {
  if (!IsHexName(digest) || !IsKind(kind)) return Failure("not a database digest");
  if (platform::SharedFile::Open(Join(Join(folder_, kRecordsFolder), digest + "." + kind + ".rec"))) return Ok();
  Expected<SignatureRecord> record = Record(digest, kind, path);
  if (!record) return record.error();
  return Ok();
}

Expected<CacheIndex::SmallEngineFolders> CacheIndex::SmallEngine(const std::string& from, const std::string& to,
                                                                 const std::function<DeltaPlan()>& make) {
  if (!IsHexName(from) || !IsHexName(to)) return Failure("not a set digest");
  const std::string small = Join(folder_, kSmallEnginesFolder);
  const std::string name = ShortName(from) + "-" + ShortName(to);
  const std::string folder = Join(small, name);
  const auto readBack = [&]() -> std::optional<SmallEngineFolders> {
    const std::optional<std::string> text = ReadOwnFile(Join(folder, "plan.json"), kMaxIndexBytes);
    if (!text) return std::nullopt;
    const json plan = json::parse(*text, nullptr, false);
    if (!plan.is_object() || !plan.contains("kind") || !plan["kind"].is_number_integer()) return std::nullopt;
    SmallEngineFolders folders;
    folders.kind = static_cast<DeltaPlan::Kind>(plan["kind"].get<int>());
    folders.reason = plan.value("reason", std::string());
    folders.newSignatures = plan.value("new_signatures", std::size_t{0});
    for (const char* part : {"official", "local"}) {
      if (platform::DirectoryExists(Join(folder, part))) {
        (std::string(part) == "official" ? folders.official : folders.local) = Join(folder, part);
      }
    }
    return folders;
  };
  if (std::optional<SmallEngineFolders> known = readBack()) return *known;

  if (Status made = platform::EnsurePrivateFolder(small); !made) return made.error();
  const DeltaPlan plan = make();
  const std::string building = Join(small, "." + name + "." + platform::HexNumber(std::random_device{}(), 8));
  RemoveTree(building);
  if (Status made = platform::EnsurePrivateFolder(building); !made) return made.error();
  const auto fill = [&](const char* part, const std::map<std::string, std::string>& files,
                        const std::vector<std::string>& whole) -> Status {
    if (files.empty() && whole.empty()) return Ok();
    const std::string target = Join(building, part);
    if (Status made = platform::EnsurePrivateFolder(target); !made) return made;
    for (const auto& [fileName, content] : files) {
      if (Status wrote = WriteOwnFile(Join(target, fileName), content); !wrote) return wrote;
    }
    for (const std::string& path : whole) {
      std::optional<std::string> bytes = platform::ReadWholeFile(path, platform::ShareMode::DenyNone);
      if (!bytes) return Failure("cannot read " + path);
      if (Status wrote = WriteOwnFile(Join(target, platform::ExtractFileName(path)), *bytes); !wrote) return wrote;
    }
    return Ok();
  };
  Status filled = Ok();
  if (plan.kind == DeltaPlan::Kind::Small) {
    filled = fill("official", plan.official, plan.wholeFiles);
    if (filled) filled = fill("local", plan.local, {});
  }
  json record = {{"kind", static_cast<int>(plan.kind)}, {"reason", plan.reason}, {"new_signatures", plan.newSignatures}};
  if (filled) filled = WriteOwnFile(Join(building, "plan.json"), record.dump() + "\n");
  // Moved into place whole, never over a plan another scan put there.
  const auto held = platform::Folder::Open(small);
  if (!filled || !held || !held->MoveTo(platform::ExtractFileName(building), *held, name)) RemoveTree(building);
  if (!filled) return filled.error();
  // Another scan may have put the same plan there first; either will do.
  if (std::optional<SmallEngineFolders> known = readBack()) return *known;
  return Failure("cannot keep the small engine's databases in " + folder);
}

}  // namespace korbu::cache
