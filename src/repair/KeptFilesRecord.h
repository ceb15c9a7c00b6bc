#pragma once
// The journal record of whole files an action replaced (a hive of a mounted
// Windows, written anew, and the transaction logs beside it): each file as it
// was is an item of the action's quarantine (see Quarantine.h), named here with
// its size and SHA-256, together with what the action wrote in place of the
// first, so that an undo can tell whether that is still there.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Expected.h"

namespace korbu {

struct KeptFile {
  std::string name;  // in the folder of the record's path
  std::string item;  // the quarantine item holding its bytes
  std::uint64_t size = 0;
  std::string sha256;
};

struct KeptFilesChange {
  std::string path;             // the file replaced whole
  std::string volume;           // the mounted Windows volume it is on; empty: none
  std::vector<KeptFile> files;  // that file first, then those beside it, as they were
  std::uint64_t writtenSize = 0;
  std::string writtenSha256;    // what the action wrote in its place
};

/// The record's "op" in the journal.
inline constexpr std::string_view kKeptFilesOp = "files";

nlohmann::json KeptFilesJson(const KeptFilesChange& change);
/// The record a journal line of that op holds; an error naming the damaged field.
Expected<KeptFilesChange> KeptFilesFromJson(const nlohmann::json& line);

}  // namespace korbu
