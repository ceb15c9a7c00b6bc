#include "engine/DatabaseSet.h"

#include <algorithm>

#include "engine/CvdHeader.h"
#include "engine/SignatureLines.h"
#include "platform/FileSystem.h"
#include "platform/OpenedFile.h"
#include "platform/Path.h"
#include "platform/Sha256.h"

namespace korbu {
namespace {

constexpr std::size_t kReadChunk = 1u << 20;

Expected<std::string> DigestOf(platform::OpenedFile& file) {
  platform::Sha256 hash;
  std::string chunk(kReadChunk, '\0');
  for (std::uint64_t at = 0;;) {
    const std::int64_t got = file.ReadAt(chunk.data(), chunk.size(), at);
    if (got < 0) return Failure(file.Error());
    if (got == 0) break;
    hash.Update(std::string_view(chunk.data(), static_cast<std::size_t>(got)));
    at += static_cast<std::uint64_t>(got);
  }
  return hash.HexDigest();
}

// A stamp taken at or after the load began may belong to a change the engine did
// not see.
Status Unchanged(const platform::FileStamp& stamp, std::int64_t loadStartedNs, const std::string& what) {
  if (stamp.changedNs >= loadStartedNs || stamp.modifiedNs >= loadStartedNs) {
    return Failure(what + " changed after the engine loaded the databases");
  }
  return Ok();
}

}  // namespace

std::string DatabaseSet::Versions() const {
  std::string text;
  for (const DatabaseFileIdentity& file : files) {
    if (file.version.empty()) continue;
    if (!text.empty()) text += ", ";
    text += file.name.substr(0, file.name.find('.')) + " " + file.version;
  }
  return text;
}

Expected<DatabaseSet> IdentifyDatabases(const std::string& folder, std::int64_t loadStartedNs,
                                        const KnownDigest& known) {
  std::vector<std::string> names;
  const Status listed = platform::ListFolder(folder, "*", [&](const platform::EntryInfo& entry) {
    if (IsDatabaseFileName(entry.name)) names.push_back(entry.name);
    return true;
  });
  if (!listed) return listed.error().Context("cannot list " + folder);
  std::sort(names.begin(), names.end());
  DatabaseSet set;
  platform::Sha256 setHash;
  for (const std::string& name : names) {
    DatabaseFileIdentity file;
    file.name = name;
    file.path = platform::IncludeTrailingDelimiter(folder) + name;
    platform::OpenedFile opened = platform::OpenedFile::Open(file.path);
    if (!opened.IsOpen()) return Failure(file.path + ": " + opened.Error());
    Expected<platform::FileStamp> stamp = platform::StampOf(opened);
    if (!stamp) return stamp.error().Context(file.path);
    // A file added, replaced or renamed into the folder since then has a later
    // change time too; one removed leaves the engine with more, never fewer,
    // signatures than the set says.
    if (!stamp->trusted) return Failure(file.path + ": on a file system whose stamps cannot be trusted");
    if (Status same = Unchanged(*stamp, loadStartedNs, file.path); !same) return same.error();
    file.stamp = *stamp;
    if (known) file.digest = known(name, *stamp);
    if (file.digest.empty()) {
      Expected<std::string> digest = DigestOf(opened);
      if (!digest) return digest.error().Context(file.path);
      file.digest = *digest;
    }
    if (IsDatabaseContainer(name)) file.version = ReadCvdHeader(file.path).version;
    setHash.Update(name);
    setHash.Update(std::string_view("\0", 1));
    setHash.Update(file.digest);
    setHash.Update(std::string_view("\n", 1));
    set.files.push_back(std::move(file));
  }
  set.digest = setHash.HexDigest();
  return set;
}

}  // namespace korbu
