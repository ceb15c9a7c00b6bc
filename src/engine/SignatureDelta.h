#pragma once
// What a database update means for clean verdicts made before it. A file found
// clean with the old set stays clean with the new one unless a signature added
// since matches it, so it needs judging only against the added signatures, loaded
// as a small engine of their own together with everything that shapes how the
// engine sees files (file types, engine settings, trust, allowances, macro groups,
// bytecode). Where the update changes something that cannot be judged that way
// (file-type or container rules, bytecode, phishing or YARA rules, a removed
// allowance or ignore entry, a new signature that an ignore entry names), every
// file is judged again in full.

#include <cstddef>
#include <map>
#include <string>
#include <vector>

#include "engine/SignatureRecord.h"

namespace korbu {

/// A database file of a set: its name, its content's digest and its record.
struct RecordedDatabase {
  std::string path;     // where it is now (only needed for the current set)
  std::string digest;   // SHA-256 of its content, hex
  SignatureRecord record;
};

struct DeltaPlan {
  enum class Kind {
    Unchanged,  // no signature added: the verdicts hold as they are
    Small,      // judged again by the small engine below
    Full,       // judged again in full
  };
  Kind kind = Kind::Full;
  std::string reason;             // why Full
  std::size_t newSignatures = 0;  // lines added (Small)
  /// The small engine's databases, file name to content: those loaded as the
  /// signature provider's own, and the local ones.
  std::map<std::string, std::string> official;
  std::map<std::string, std::string> local;
  /// Database files the small engine loads as they are (signed containers that
  /// hold bytecode).
  std::vector<std::string> wholeFiles;
};

/// The plan for verdicts made with the set before, now that the set is now (whose
/// files are read again for the text of the added lines).
DeltaPlan PlanDelta(const std::vector<RecordedDatabase>& before, const std::vector<RecordedDatabase>& now);

}  // namespace korbu
