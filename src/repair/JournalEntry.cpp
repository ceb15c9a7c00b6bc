#include "repair/JournalEntry.h"

#include "platform/HexText.h"
#include "scan/RegistryLocations.h"

namespace korbu {
namespace {

using nlohmann::json;

constexpr int kJournalVersion = 2;  // 2: deleted files keep their owner

Error Damaged(std::string_view field) { return Failure("its record is damaged (" + std::string(field) + ")"); }

// Reads one field of a record; every reader names the field that is wrong.
class Fields {
 public:
  explicit Fields(const json& line) : line_(line) {}

  Expected<std::string> Bytes(const char* name) const {
    const auto it = line_.find(name);
    if (it == line_.end() || !it->is_string()) return Damaged(name);
    auto bytes = UnescapeBytes(it->get_ref<const std::string&>());
    if (!bytes) return Damaged(name);
    return std::move(*bytes);
  }
  // Escaped bytes or null; an absent field counts as null.
  Expected<std::optional<std::string>> MaybeBytes(const char* name) const {
    const auto it = line_.find(name);
    if (it == line_.end() || it->is_null()) return std::optional<std::string>();
    auto bytes = Bytes(name);
    if (!bytes) return bytes.error();
    return std::optional<std::string>(std::move(*bytes));
  }
  template <typename Number>
  Expected<Number> Unsigned(const char* name) const {
    const auto it = line_.find(name);
    if (it == line_.end() || !it->is_number_unsigned()) return Damaged(name);
    return it->get<Number>();
  }
  template <typename Number>
  std::optional<Number> MaybeUnsigned(const char* name) const {
    const auto it = line_.find(name);
    if (it == line_.end() || !it->is_number_unsigned()) return std::nullopt;
    return it->get<Number>();
  }
  bool Flag(const char* name) const {
    const auto it = line_.find(name);
    return it != line_.end() && it->is_boolean() && it->get<bool>();
  }
  // Escaped bytes where the field holds them, else nothing.
  std::string BytesOrEmpty(const char* name) const {
    auto bytes = Bytes(name);
    return bytes ? std::move(*bytes) : std::string();
  }
  std::string Text(const char* name) const {
    const auto it = line_.find(name);
    return it != line_.end() && it->is_string() ? it->get<std::string>() : std::string();
  }
  Expected<std::optional<RegistryData>> Registry(const char* name) const {
    const auto it = line_.find(name);
    if (it == line_.end()) return Damaged(name);
    if (it->is_null()) return std::optional<RegistryData>();
    if (!it->is_object()) return Damaged(name);
    const Fields inner(*it);
    const auto type = inner.Unsigned<std::uint32_t>("type");
    auto data = inner.Bytes("data");
    if (!type || !data) return Damaged(name);
    return std::optional<RegistryData>(RegistryData{*type, std::move(*data)});
  }

 private:
  const json& line_;
};

json RegistryJson(const std::optional<RegistryData>& value) {
  if (!value) return nullptr;
  return json{{"type", value->type}, {"data", EscapeBytes(value->data)}};
}

json MaybeEscaped(const std::optional<std::string>& bytes) { return bytes ? json(EscapeBytes(*bytes)) : json(); }

// A quarantine item is named by the journal: a plain name inside the quarantine folder.
bool IsItemName(const std::string& name) {
  return !name.empty() && name[0] != '.' && name.find_first_of(std::string("/\\:\0", 4)) == std::string::npos;
}

struct ToJsonVisitor {
  json operator()(const RegistryChange& c) const {
    json j{{"op", "registry"},
           {"location", EscapeBytes(RegistryLocationText(c.value))},
           {"key", EscapeBytes(c.value.keyPath)},
           {"name", EscapeBytes(c.value.valueName)},
           {"old", RegistryJson(c.before)},
           {"new", RegistryJson(c.after)}};
    if (!c.prefix.empty()) j["prefix"] = EscapeBytes(c.prefix);
    if (!c.volume.empty()) j["volume"] = EscapeBytes(c.volume);
    if (c.created) j["created"] = EscapeBytes(*c.created);
    return j;
  }
  json operator()(const IniChange& c) const {
    return {{"op", "ini"},           {"path", EscapeBytes(c.path)},   {"section", EscapeBytes(c.section)},
            {"key", EscapeBytes(c.key)}, {"value", EscapeBytes(c.value)}, {"old", MaybeEscaped(c.before)},
            {"new", EscapeBytes(c.after)}};
  }
  json operator()(const ReplaceChange& c) const {
    return {{"op", "replace"},
            {"path", EscapeBytes(c.path)},
            {"backup", EscapeBytes(c.backup)},
            {"old", EscapeBytes(c.before)},
            {"new", EscapeBytes(c.after)}};
  }
  json operator()(const DeleteChange& c) const {
    json j{{"op", "delete"},   {"path", EscapeBytes(c.path)}, {"quarantine", c.quarantine},
           {"size", c.size},   {"sha256", c.sha256},          {"mode", c.ownership.mode},
           {"virus", EscapeBytes(c.virus)}};
    if (c.ownership.owner) j["owner"] = *c.ownership.owner;
    if (c.ownership.group) j["group"] = *c.ownership.group;
    return j;
  }
  json operator()(const TrashChange& c) const { return {{"op", "trash"}, {"path", EscapeBytes(c.path)}}; }
  json operator()(const CopyChange& c) const {
    return {{"op", "copy"}, {"path", EscapeBytes(c.path)}, {"from", EscapeBytes(c.from)}, {"size", c.size},
            {"sha256", c.sha256}};
  }
  json operator()(const TrashedNote& c) const {
    return {{"op", "trashed"}, {"n", c.change}, {"path", EscapeBytes(c.path)}, {"at", EscapeBytes(c.at)}};
  }
  json operator()(const AttributesChange& c) const {
    return {{"op", "attributes"}, {"path", EscapeBytes(c.path)}, {"old", c.before}};
  }
  json operator()(const NotMadeNote& c) const { return {{"op", "not-made"}, {"n", c.change}}; }
  json operator()(const UndoneNote& c) const { return {{"op", "undone"}, {"time", c.time}, {"complete", c.complete}}; }
  json operator()(const KeptFilesChange& c) const { return KeptFilesJson(c); }
};

Expected<JournalRecord> RecordFromJson(const std::string& op, const Fields& f) {
  if (op == "registry") {
    auto location = f.Bytes("location");
    auto key = f.MaybeBytes("key");
    auto name = f.MaybeBytes("name");
    auto before = f.Registry("old");
    auto after = f.Registry("new");
    auto prefix = f.MaybeBytes("prefix");
    auto volume = f.MaybeBytes("volume");  // older journals have none
    auto created = f.MaybeBytes("created");
    if (!location) return location.error();
    if (!key) return key.error();
    if (!name) return name.error();
    if (!before) return before.error();
    if (!after) return after.error();
    if (!prefix) return prefix.error();
    if (!volume) return volume.error();
    if (!created) return created.error();
    // The root is named by the location; a record without key and name apart
    // (an older one) is read by splitting its location at its last backslash.
    std::optional<RegistryValueLocation> value;
    if (*key && *name) {
      if (const auto split = SplitRegistryLocation(*location)) value = RegistryValueLocation{split->root, **key, **name};
    } else {
      value = ParseRegistryLocation(*location);
    }
    if (!value) return Damaged("location");
    return RegistryChange{std::move(*value), std::move(*before), std::move(*after), prefix->value_or(std::string()),
                          volume->value_or(std::string()), std::move(*created)};
  }
  if (op == "ini") {
    auto path = f.Bytes("path");
    auto section = f.Bytes("section");
    auto key = f.Bytes("key");
    auto value = f.Bytes("value");
    auto before = f.MaybeBytes("old");
    auto after = f.Bytes("new");
    for (const auto* part : {&path, &section, &key, &value, &after}) {
      if (!*part) return part->error();
    }
    if (!before) return before.error();
    return IniChange{std::move(*path),  std::move(*section), std::move(*key),
                     std::move(*value), std::move(*before),  std::move(*after)};
  }
  if (op == "replace") {
    auto path = f.Bytes("path");
    auto backup = f.Bytes("backup");
    auto before = f.Bytes("old");
    auto after = f.Bytes("new");
    for (const auto* part : {&path, &backup, &before, &after}) {
      if (!*part) return part->error();
    }
    return ReplaceChange{std::move(*path), std::move(*backup), std::move(*before), std::move(*after)};
  }
  if (op == "delete") {
    auto path = f.Bytes("path");
    const std::string item = f.Text("quarantine");
    const auto size = f.Unsigned<std::uint64_t>("size");
    const std::string sha256 = f.Text("sha256");
    const auto mode = f.Unsigned<unsigned>("mode");
    if (!path) return path.error();
    if (!IsItemName(item)) return Damaged("quarantine");
    if (!size) return size.error();
    if (sha256.size() != 64) return Damaged("sha256");
    if (!mode) return mode.error();
    DeleteChange change{std::move(*path), item, *size, sha256, {*mode & 07777u, {}, {}}, std::string()};
    change.ownership.owner = f.MaybeUnsigned<std::uint32_t>("owner");
    change.ownership.group = f.MaybeUnsigned<std::uint32_t>("group");
    change.virus = f.BytesOrEmpty("virus");
    return change;
  }
  if (op == "trash") {
    auto path = f.Bytes("path");
    if (!path) return path.error();
    return TrashChange{std::move(*path)};
  }
  if (op == "copy") {
    auto path = f.Bytes("path");
    auto from = f.Bytes("from");
    const auto size = f.Unsigned<std::uint64_t>("size");
    const std::string sha256 = f.Text("sha256");
    if (!path) return path.error();
    if (!from) return from.error();
    if (!size) return size.error();
    if (sha256.size() != 64) return Damaged("sha256");
    return CopyChange{std::move(*path), std::move(*from), *size, sha256};
  }
  if (op == "trashed") {
    const auto change = f.Unsigned<int>("n");
    auto at = f.Bytes("at");
    if (!change) return change.error();
    if (!at) return at.error();
    return TrashedNote{*change, f.BytesOrEmpty("path"), std::move(*at)};
  }
  if (op == "attributes") {
    auto path = f.Bytes("path");
    const auto before = f.Unsigned<std::uint32_t>("old");
    if (!path) return path.error();
    if (!before) return before.error();
    return AttributesChange{std::move(*path), *before};
  }
  if (op == "not-made") {
    const auto change = f.Unsigned<int>("n");
    if (!change) return change.error();
    return NotMadeNote{*change};
  }
  if (op == "undone") return UndoneNote{f.Text("time"), f.Flag("complete")};
  return Failure("its record is of an unknown kind (\"" + EscapeBytes(op) + "\")");
}

}  // namespace

std::string EscapeBytes(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '%') {
      out += c;
    } else {
      out += '%';
      platform::AppendHexByte(out, byte, true);
    }
  }
  return out;
}

std::optional<std::string> UnescapeBytes(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '%') {
      out += text[i];
      continue;
    }
    if (i + 2 >= text.size() || !platform::IsHexDigit(text[i + 1]) || !platform::IsHexDigit(text[i + 2])) {
      return std::nullopt;
    }
    out += static_cast<char>(platform::HexDigitValue(text[i + 1]) * 16 + platform::HexDigitValue(text[i + 2]));
    i += 2;
  }
  return out;
}

json ToJson(const JournalEntry& entry) {
  json line = std::visit(ToJsonVisitor{}, entry.record);
  if (entry.n != 0) line["n"] = entry.n;
  return line;
}

Expected<JournalEntry> EntryFromJson(const json& line) {
  if (!line.is_object()) return Failure("its record is damaged");
  const Fields fields(line);
  const std::string op = fields.Text("op");
  auto record = [&]() -> Expected<JournalRecord> {
    if (op != kKeptFilesOp) return RecordFromJson(op, fields);
    auto kept = KeptFilesFromJson(line);
    if (!kept) return kept.error();
    return JournalRecord(std::move(*kept));
  }();
  if (!record) return record.error();
  JournalEntry entry{0, std::move(*record)};
  if (!IsNote(entry.record)) entry.n = fields.MaybeUnsigned<int>("n").value_or(0);
  return entry;
}

json ToJson(const ActionHeader& header) {
  json rows = json::array();
  for (const ActionHeader::Row& row : header.rows) {
    rows.push_back({{"file", EscapeBytes(row.file)}, {"virus", EscapeBytes(row.virus)}});
  }
  return {{"journal", "korbu"}, {"version", kJournalVersion}, {"id", header.id},
          {"time", header.time},  {"action", header.action},     {"rows", std::move(rows)}};
}

Expected<ActionHeader> HeaderFromJson(const json& line) {
  if (!line.is_object() || line.value("journal", "") != "korbu") return Failure("it is not an undo journal");
  const Fields fields(line);
  ActionHeader header{fields.Text("id"), fields.Text("time"), fields.Text("action"), {}};
  const auto rows = line.find("rows");
  if (rows != line.end() && rows->is_array()) {
    for (const json& row : *rows) {
      if (!row.is_object()) continue;
      const Fields rowFields(row);
      header.rows.push_back({rowFields.BytesOrEmpty("file"), rowFields.BytesOrEmpty("virus")});
    }
  }
  return header;
}

bool IsNote(const JournalRecord& record) {
  return std::holds_alternative<TrashedNote>(record) || std::holds_alternative<NotMadeNote>(record) ||
         std::holds_alternative<UndoneNote>(record);
}

std::string ObjectOf(const JournalRecord& record) {
  struct Visitor {
    std::string operator()(const RegistryChange& c) const { return "registry value " + RegistryLocationText(c.value); }
    std::string operator()(const IniChange& c) const { return c.path + " [" + c.section + "] " + c.key; }
    std::string operator()(const ReplaceChange& c) const { return c.path; }
    std::string operator()(const DeleteChange& c) const { return c.path; }
    std::string operator()(const TrashChange& c) const { return c.path; }
    std::string operator()(const CopyChange& c) const { return c.path; }
    std::string operator()(const TrashedNote& c) const { return c.path; }
    std::string operator()(const AttributesChange& c) const { return "attributes of " + c.path; }
    std::string operator()(const NotMadeNote&) const { return "a change not made"; }
    std::string operator()(const UndoneNote&) const { return "an undo"; }
    std::string operator()(const KeptFilesChange& c) const { return c.path; }
  };
  return std::visit(Visitor{}, record);
}

}  // namespace korbu
