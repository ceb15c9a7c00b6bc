#include "repair/KeptFilesRecord.h"

#include "platform/HexText.h"
#include "repair/JournalEntry.h"

namespace korbu {
namespace {

using nlohmann::json;

Error Damaged(std::string_view field) { return Failure("its record is damaged (" + std::string(field) + ")"); }

bool IsSha256(const json& value) {
  if (!value.is_string()) return false;
  const auto& text = value.get_ref<const std::string&>();
  if (text.size() != 64) return false;
  for (const char c : text) {
    if (!platform::IsHexDigit(c)) return false;
  }
  return true;
}

// A name within one folder: no separator, no way up, no hidden trick.
bool IsPlainName(const std::string& name) {
  return !name.empty() && name != "." && name != ".." &&
         name.find_first_of(std::string("/\\\0", 3)) == std::string::npos;
}

Expected<std::string> Escaped(const json& object, const char* field) {
  const auto it = object.find(field);
  if (it == object.end() || !it->is_string()) return Damaged(field);
  auto bytes = UnescapeBytes(it->get_ref<const std::string&>());
  if (!bytes) return Damaged(field);
  return std::move(*bytes);
}

}  // namespace

json KeptFilesJson(const KeptFilesChange& change) {
  json files = json::array();
  for (const KeptFile& file : change.files) {
    files.push_back(
        {{"name", EscapeBytes(file.name)}, {"item", file.item}, {"size", file.size}, {"sha256", file.sha256}});
  }
  json line{{"op", kKeptFilesOp},
            {"path", EscapeBytes(change.path)},
            {"files", std::move(files)},
            {"new", {{"size", change.writtenSize}, {"sha256", change.writtenSha256}}}};
  if (!change.volume.empty()) line["volume"] = EscapeBytes(change.volume);
  return line;
}

Expected<KeptFilesChange> KeptFilesFromJson(const json& line) {
  KeptFilesChange change;
  auto path = Escaped(line, "path");
  if (!path) return path.error();
  change.path = std::move(*path);
  if (line.contains("volume")) {
    auto volume = Escaped(line, "volume");
    if (!volume) return volume.error();
    change.volume = std::move(*volume);
  }
  const auto written = line.find("new");
  if (written == line.end() || !written->is_object() || !written->contains("size") ||
      !(*written)["size"].is_number_unsigned() || !IsSha256((*written)["sha256"])) {
    return Damaged("new");
  }
  change.writtenSize = (*written)["size"].get<std::uint64_t>();
  change.writtenSha256 = (*written)["sha256"].get<std::string>();
  const auto files = line.find("files");
  if (files == line.end() || !files->is_array() || files->empty()) return Damaged("files");
  for (const json& file : *files) {
    if (!file.is_object()) return Damaged("files");
    auto name = Escaped(file, "name");
    const auto item = file.find("item");
    const auto size = file.find("size");
    const auto sha256 = file.find("sha256");
    if (!name || !IsPlainName(*name)) return Damaged("files");
    if (item == file.end() || !item->is_string() || !IsPlainName(item->get<std::string>()) ||
        item->get_ref<const std::string&>()[0] == '.') {
      return Damaged("files");
    }
    if (size == file.end() || !size->is_number_unsigned() || sha256 == file.end() || !IsSha256(*sha256)) {
      return Damaged("files");
    }
    change.files.push_back(
        {std::move(*name), item->get<std::string>(), size->get<std::uint64_t>(), sha256->get<std::string>()});
  }
  return change;
}

}  // namespace korbu
