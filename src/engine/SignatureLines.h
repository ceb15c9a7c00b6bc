#pragma once
// The signature databases as the engine loads them: the files of a database folder
// whose names the engine takes, and the lines of each, read from a loose file or
// from the members of a signed container (.cvd, .cld: a 512-byte header, then a
// tar archive, gzip-compressed in a .cvd).

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"

namespace korbu {

/// True when the engine loads a file of this name from a database folder (its
/// extension, in any letter case, is one of the engine's database kinds).
bool IsDatabaseFileName(std::string_view name);

/// True for the signed containers (.cvd, .cld), whose lines load as the
/// signature provider's own.
bool IsDatabaseContainer(std::string_view name);

/// The extension of a database name in lower case, without the dot ("ndb");
/// empty when it has none.
std::string DatabaseKind(std::string_view name);

/// Field index (from 0) of a database line cut at separator; empty when the line
/// has fewer fields.
std::string_view LineField(std::string_view line, char separator, std::size_t index);

/// One line of a database: the member (or loose file) it is in, and its text
/// without the line end. Empty lines are not given.
using SignatureLineVisitor = std::function<void(std::string_view member, std::string_view line)>;

/// Longest line taken; a longer one makes the file unreadable here.
inline constexpr std::size_t kMaxSignatureLine = 1u << 20;

/// Gives every line of a database file: each member of a container whose name is
/// a database kind (the others, a licence or the container's index, are skipped),
/// or the file's own lines. Fails for a file that cannot be read or unpacked, or a
/// container above maxUnpacked bytes unpacked.
Status ReadSignatureLines(const std::string& path, const SignatureLineVisitor& visit,
                          std::uint64_t maxUnpacked = std::uint64_t{4} << 30);

}  // namespace korbu
