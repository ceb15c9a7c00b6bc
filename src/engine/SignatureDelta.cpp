#include "engine/SignatureDelta.h"

#include <algorithm>
#include <set>

#include "engine/SignatureLines.h"

namespace korbu {
namespace {

using Digests = std::vector<std::uint64_t>;

Digests Union(const std::vector<RecordedDatabase>& set, const Digests SignatureRecord::*list) {
  Digests all;
  for (const RecordedDatabase& database : set) {
    const Digests& part = database.record.*list;
    all.insert(all.end(), part.begin(), part.end());
  }
  std::sort(all.begin(), all.end());
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

bool Contains(const Digests& sorted, std::uint64_t value) {
  return std::binary_search(sorted.begin(), sorted.end(), value);
}

std::multiset<std::string> Environments(const std::vector<RecordedDatabase>& set) {
  std::multiset<std::string> all;
  for (const RecordedDatabase& database : set) {
    if (!database.record.environment.empty()) all.insert(database.record.environment);
  }
  return all;
}

DeltaPlan Full(std::string reason) {
  DeltaPlan plan;
  plan.kind = DeltaPlan::Kind::Full;
  plan.reason = std::move(reason);
  return plan;
}

// The engine settings load before everything else under this name, as they do
// from the provider's daily database.
std::string SmallEngineFileName(const std::string& part, const std::string& kind) {
  return kind == "cfg" ? "daily.cfg" : part + "." + kind;
}

}  // namespace

DeltaPlan PlanDelta(const std::vector<RecordedDatabase>& before, const std::vector<RecordedDatabase>& now) {
  for (const RecordedDatabase& database : now) {
    if (database.record.blocking) return Full("a catalogue or IOC database is loaded");
  }
  if (Environments(before) != Environments(now)) {
    return Full("file types, engine settings, trust, bytecode, container, phishing or YARA rules changed");
  }
  const Digests allowedNow = Union(now, &SignatureRecord::allowances);
  for (std::uint64_t allowed : Union(before, &SignatureRecord::allowances)) {
    if (!Contains(allowedNow, allowed)) return Full("an allowance was removed");
  }
  const Digests ignoredNow = Union(now, &SignatureRecord::ignoredNames);
  for (std::uint64_t ignored : Union(before, &SignatureRecord::ignoredNames)) {
    if (!Contains(ignoredNow, ignored)) return Full("an ignore entry was removed");
  }

  const Digests known = Union(before, &SignatureRecord::detections);
  std::set<std::string> unchanged;
  for (const RecordedDatabase& database : before) unchanged.insert(database.digest);
  Digests added;
  for (const RecordedDatabase& database : now) {
    if (unchanged.count(database.digest) != 0) continue;
    for (std::uint64_t line : database.record.detections) {
      if (!Contains(known, line)) added.push_back(line);
    }
  }
  std::sort(added.begin(), added.end());
  added.erase(std::unique(added.begin(), added.end()), added.end());
  DeltaPlan plan;
  if (added.empty()) {
    plan.kind = DeltaPlan::Kind::Unchanged;
    return plan;
  }

  // The text of the added lines, and all the lines that shape how they match.
  plan.kind = DeltaPlan::Kind::Small;
  Digests written;
  for (const RecordedDatabase& database : now) {
    const bool official = database.record.official;
    auto& files = official ? plan.official : plan.local;
    if (database.record.loadWhole) plan.wholeFiles.push_back(database.path);
    std::string problem;
    Status read = ReadSignatureLines(database.path, [&](std::string_view member, std::string_view line) {
      const std::string kind = DatabaseKind(member);
      if (line.front() == '#') return;
      switch (RoleOfLine(kind, line)) {
        case LineRole::Detection: {
          const std::uint64_t digest = LineDigest(kind, official, line);
          if (!Contains(added, digest)) return;
          if (Contains(ignoredNow, NameDigest(SignatureName(kind, line)))) {
            problem = "an added signature is named in an ignore list";
          }
          written.push_back(digest);
          files[SmallEngineFileName("added", kind)].append(line).append("\n");
          return;
        }
        case LineRole::Allowance:
          files[SmallEngineFileName("allowed", kind)].append(line).append("\n");
          return;
        case LineRole::Environment:
          if (!database.record.loadWhole) files[SmallEngineFileName("shaping", kind)].append(line).append("\n");
          return;
        default:
          return;
      }
    });
    if (!read) return Full("cannot read " + database.path + ": " + read.error().reason);
    if (!problem.empty()) return Full(problem);
  }
  std::sort(written.begin(), written.end());
  written.erase(std::unique(written.begin(), written.end()), written.end());
  if (written.size() != added.size()) return Full("the databases changed while they were read");
  plan.newSignatures = added.size();
  return plan;
}

}  // namespace korbu
