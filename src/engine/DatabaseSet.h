#pragma once
// The identity of the signature databases an engine loaded from a folder: each
// database file with the digest of its content and, for a signed container, its
// version, and one digest of the whole set. Two engines of the same library that
// loaded sets of the same digest hold the same signatures.

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/FileStamp.h"

namespace korbu {

struct DatabaseFileIdentity {
  std::string name;     // in the folder
  std::string path;
  std::string digest;   // SHA-256 of the content, hex
  std::string version;  // a container's header version; empty for a loose file
  platform::FileStamp stamp;
};

struct DatabaseSet {
  std::vector<DatabaseFileIdentity> files;  // by name
  std::string digest;                       // SHA-256 over the names and digests, hex
  /// "main 6, daily 3": the containers' versions, for people.
  std::string Versions() const;
};

/// A digest known for a file in a state (from an earlier run), or an empty text;
/// it spares reading a large database again.
using KnownDigest = std::function<std::string(const std::string& name, const platform::FileStamp& stamp)>;

/// The set of a database folder as an engine that began loading it at
/// loadStartedNs (see platform::NowNs) loaded it. Fails when the folder or any
/// database file in it has changed since then, lies on a file system whose stamps
/// cannot be trusted, or cannot be read: the set on disk is then not known to be
/// the one loaded.
Expected<DatabaseSet> IdentifyDatabases(const std::string& folder, std::int64_t loadStartedNs,
                                        const KnownDigest& known = nullptr);

}  // namespace korbu
