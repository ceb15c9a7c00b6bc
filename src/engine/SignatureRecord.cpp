#include "engine/SignatureRecord.h"

#include <algorithm>
#include <cstring>

#include "engine/SignatureLines.h"
#include "platform/Sha256.h"

namespace korbu {
namespace {

constexpr char kMagic[8] = {'K', 'O', 'R', 'B', 'U', 'S', 'R', '1'};
constexpr std::size_t kDigestSize = 32;

bool OneOf(std::string_view kind, std::initializer_list<std::string_view> kinds) {
  return std::find(kinds.begin(), kinds.end(), kind) != kinds.end();
}

std::uint64_t First8(const std::string& digest) {
  std::uint64_t value = 0;
  for (std::size_t i = 0; i < 8; ++i) value = (value << 8) | static_cast<unsigned char>(digest[i]);
  return value;
}

void SortUnique(std::vector<std::uint64_t>& values) {
  std::sort(values.begin(), values.end());
  values.erase(std::unique(values.begin(), values.end()), values.end());
}

void PutU64(std::string& out, std::uint64_t value) {
  for (int i = 0; i < 8; ++i, value >>= 8) out.push_back(static_cast<char>(value & 0xFF));
}

bool GetU64(std::string_view& in, std::uint64_t& value) {
  if (in.size() < 8) return false;
  value = 0;
  for (int i = 7; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(in[static_cast<std::size_t>(i)]);
  in.remove_prefix(8);
  return true;
}

// The name an ignore line drops: the whole line, the first of two fields, or the
// third of three (the old form).
std::string_view IgnoredName(std::string_view line) {
  const std::size_t fields = static_cast<std::size_t>(std::count(line.begin(), line.end(), ':')) + 1;
  if (fields == 1) return line;
  return LineField(line, ':', fields == 2 ? 0 : 2);
}

}  // namespace

LineRole RoleOfLine(std::string_view kind, std::string_view line) {
  if (OneOf(kind, {"ndb", "ndu"})) {
    // An offset of "$N" puts the body signature in macro group N, which logical
    // signatures refer to: a change there changes what those signatures match.
    return LineField(line, ':', 2).substr(0, 1) == "$" ? LineRole::Environment : LineRole::Detection;
  }
  if (OneOf(kind, {"db", "hdb", "hdu", "hsb", "hsu", "mdb", "mdu", "msb", "msu", "imp", "ldb", "ldu"})) {
    return LineRole::Detection;
  }
  if (OneOf(kind, {"fp", "sfp"})) return LineRole::Allowance;
  if (OneOf(kind, {"ign", "ign2"})) return LineRole::Ignore;
  if (OneOf(kind, {"ftm", "cfg", "crb", "idb", "pwdb"})) return LineRole::Environment;
  if (OneOf(kind, {"cat", "ioc"})) return LineRole::Blocking;
  return LineRole::Opaque;
}

std::uint64_t LineDigest(std::string_view kind, bool official, std::string_view line) {
  platform::Sha256 hash;
  hash.Update(kind);
  hash.Update(official ? std::string_view("\0o\0", 3) : std::string_view("\0u\0", 3));
  hash.Update(line);
  return First8(hash.Digest());
}

std::uint64_t NameDigest(std::string_view name) {
  platform::Sha256 hash;
  hash.Update("name\0");
  hash.Update(name);
  return First8(hash.Digest());
}

std::string_view SignatureName(std::string_view kind, std::string_view line) {
  if (kind == "db") return line.substr(0, line.find('='));
  if (OneOf(kind, {"hdb", "hdu", "hsb", "hsu", "mdb", "mdu", "msb", "msu", "imp"})) return LineField(line, ':', 2);
  if (OneOf(kind, {"ndb", "ndu"})) return LineField(line, ':', 0);
  if (OneOf(kind, {"ldb", "ldu"})) return LineField(line, ';', 0);
  return std::string_view();
}

Expected<SignatureRecord> RecordDatabase(const std::string& path) {
  SignatureRecord record;
  record.official = IsDatabaseContainer(path);
  platform::Sha256 environment;
  bool shaped = false;
  std::string lastMember;
  Status read = ReadSignatureLines(path, [&](std::string_view member, std::string_view line) {
    const std::string kind = DatabaseKind(member);
    const bool comment = line.front() == '#';
    switch (RoleOfLine(kind, line)) {
      case LineRole::Detection:
        if (!comment) record.detections.push_back(LineDigest(kind, record.official, line));
        break;
      case LineRole::Allowance:
        if (!comment) record.allowances.push_back(LineDigest(kind, record.official, line));
        break;
      case LineRole::Ignore:
        if (!comment) record.ignoredNames.push_back(NameDigest(IgnoredName(line)));
        break;
      case LineRole::Blocking:
        record.blocking = true;
        [[fallthrough]];
      case LineRole::Environment:
      case LineRole::Opaque:
        if (kind == "cbc") record.loadWhole = true;
        shaped = true;
        if (member != lastMember) {
          environment.Update(std::string_view("\0member\0", 8));
          environment.Update(kind);
          lastMember = std::string(member);
        }
        environment.Update(line);
        environment.Update(std::string_view("\n", 1));
        break;
    }
  });
  if (!read) return read.error();
  if (shaped) record.environment = environment.Digest();
  SortUnique(record.detections);
  SortUnique(record.allowances);
  SortUnique(record.ignoredNames);
  return record;
}

std::string SerializeRecord(const SignatureRecord& record) {
  std::string out(kMagic, sizeof kMagic);
  out.push_back(static_cast<char>((record.official ? 1 : 0) | (record.loadWhole ? 2 : 0) | (record.blocking ? 4 : 0)));
  out.push_back(static_cast<char>(record.environment.size()));
  out.append(record.environment);
  for (const auto* list : {&record.detections, &record.allowances, &record.ignoredNames}) {
    PutU64(out, list->size());
    for (std::uint64_t value : *list) PutU64(out, value);
  }
  platform::Sha256 check;
  check.Update(out);
  out.append(check.Digest());
  return out;
}

Expected<SignatureRecord> ParseRecord(std::string_view bytes) {
  const auto refused = [] { return Failure("not a signature record, or a torn one"); };
  if (bytes.size() < sizeof kMagic + 2 + kDigestSize || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
    return refused();
  }
  platform::Sha256 check;
  check.Update(bytes.substr(0, bytes.size() - kDigestSize));
  if (check.Digest() != bytes.substr(bytes.size() - kDigestSize)) return refused();
  std::string_view in = bytes.substr(sizeof kMagic, bytes.size() - sizeof kMagic - kDigestSize);
  SignatureRecord record;
  const auto flags = static_cast<unsigned char>(in.front());
  record.official = (flags & 1) != 0;
  record.loadWhole = (flags & 2) != 0;
  record.blocking = (flags & 4) != 0;
  const auto shaped = static_cast<unsigned char>(in.size() > 1 ? in[1] : 0);
  if ((shaped != 0 && shaped != kDigestSize) || in.size() < 2u + shaped) return refused();
  record.environment = std::string(in.substr(2, shaped));
  in.remove_prefix(2u + shaped);
  for (auto* list : {&record.detections, &record.allowances, &record.ignoredNames}) {
    std::uint64_t count = 0;
    if (!GetU64(in, count) || count > in.size() / 8) return refused();
    list->resize(static_cast<std::size_t>(count));
    for (std::uint64_t& value : *list) GetU64(in, value);
    if (!std::is_sorted(list->begin(), list->end())) return refused();
  }
  if (!in.empty()) return refused();
  return record;
}

}  // namespace korbu
