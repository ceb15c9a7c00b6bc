#pragma once
// What one database file holds, remembered compactly enough to keep: a 64-bit
// digest of each signature line, sorted, by the part the line plays in a verdict,
// and one digest of everything whose change cannot be judged line by line. Two
// records tell which signatures are new in a database update.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"

namespace korbu {

/// The part a database line plays in a verdict.
enum class LineRole {
  /// A signature that stands alone: a new one can be tried on its own.
  Detection,
  /// Lets files or detections pass (.fp, .sfp): one added only spares files.
  Allowance,
  /// Drops signatures by name when the engine loads them (.ign, .ign2).
  Ignore,
  /// Shapes how every file is typed, unpacked or trusted (.ftm, .cfg, .crb, .idb,
  /// .pwdb, and the macro groups of body signatures): a small engine loads all of
  /// it, and any change calls for judging again in full.
  Environment,
  /// Whose new entries cannot be tried alone (bytecode, container and phishing
  /// rules, YARA, ...): any change calls for judging again in full.
  Opaque,
  /// Whose presence alone rules out small engines (binary catalogues, IOC XML).
  Blocking,
};

/// The role of a line of a database of this kind ("ndb", lower case).
LineRole RoleOfLine(std::string_view kind, std::string_view line);

/// The 64-bit digest a line is remembered by; it covers the kind and whether the
/// line comes from the signature provider's signed containers, whose names the
/// engine reports as they stand.
std::uint64_t LineDigest(std::string_view kind, bool official, std::string_view line);

/// The record of one database file.
struct SignatureRecord {
  bool official = false;   // a signed container's lines
  bool loadWhole = false;  // holds bytecode: a small engine loads the file itself
  bool blocking = false;   // holds what rules out small engines
  std::string environment;  // SHA-256 (32 bytes) of its Environment, Opaque and Blocking lines, in
                            // order; empty when it has none
  std::vector<std::uint64_t> detections;  // sorted, without repeats
  std::vector<std::uint64_t> allowances;
  std::vector<std::uint64_t> ignoredNames;  // digests of the names the ignore lines drop
};

/// The record of a database file (a loose file or a container).
Expected<SignatureRecord> RecordDatabase(const std::string& path);

/// The digest an ignore line or a detection line's name is matched by.
std::uint64_t NameDigest(std::string_view name);

/// The name of the signature on a Detection line; empty when it has none.
std::string_view SignatureName(std::string_view kind, std::string_view line);

/// The record as bytes, and back: a record that is torn or not one is refused.
std::string SerializeRecord(const SignatureRecord& record);
Expected<SignatureRecord> ParseRecord(std::string_view bytes);

}  // namespace korbu
