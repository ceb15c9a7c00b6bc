#include "repair/Journal.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

#include "platform/DurableFile.h"
#include "platform/FileSystem.h"
#include "platform/Path.h"

namespace korbu {
namespace {

constexpr int kMaxIdsPerSecond = 99;

std::string TwoDigits(unsigned value) {
  return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

struct UtcParts {
  std::string date;  // YYYYMMDD
  std::string time;  // HHMMSS
  std::string iso;
};

UtcParts UtcNowParts() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day ymd(day);
  const hh_mm_ss hms(now - day);
  const std::string year = std::to_string(static_cast<int>(ymd.year()));
  const std::string month = TwoDigits(static_cast<unsigned>(ymd.month()));
  const std::string dayText = TwoDigits(static_cast<unsigned>(ymd.day()));
  const std::string h = TwoDigits(static_cast<unsigned>(hms.hours().count()));
  const std::string m = TwoDigits(static_cast<unsigned>(hms.minutes().count()));
  const std::string s = TwoDigits(static_cast<unsigned>(hms.seconds().count()));
  return {year + month + dayText, h + m + s, year + "-" + month + "-" + dayText + "T" + h + ":" + m + ":" + s + "Z"};
}

int HexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  return -1;
}

bool AppendLine(const std::string& path, const nlohmann::json& entry) {
  auto file = platform::DurableFile::OpenForAppend(path);
  return file && file->Write(entry.dump() + "\n") && file->Sync();
}

}  // namespace

std::string ActionsFolder() {
  const std::string data = platform::ProgramDataFolder();
  return data.empty() ? std::string() : InFolder(data, "actions");
}

std::string InFolder(const std::string& folder, std::string_view name) {
  return platform::IncludeTrailingDelimiter(folder) + std::string(name);
}

std::string EscapeBytes(std::string_view bytes) {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(bytes.size());
  for (const char c : bytes) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte >= 0x20 && byte < 0x7F && c != '%') {
      out += c;
    } else {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0x0F];
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
    if (i + 2 >= text.size()) return std::nullopt;
    const int high = HexValue(text[i + 1]);
    const int low = HexValue(text[i + 2]);
    if (high < 0 || low < 0) return std::nullopt;
    out += static_cast<char>(high * 16 + low);
    i += 2;
  }
  return out;
}

std::string UtcNow() { return UtcNowParts().iso; }

JournalWriter::JournalWriter(std::string actionsFolder, nlohmann::json header)
    : actionsFolder_(std::move(actionsFolder)), header_(std::move(header)) {}

bool JournalWriter::Fail(std::string why) {
  error_ = std::move(why);
  return false;
}

bool JournalWriter::Start() {
  if (!error_.empty()) return false;
  if (!id_.empty()) return true;
  if (actionsFolder_.empty()) return Fail("there is no data folder for the undo journal");
  if (!platform::MakePrivateFolders(actionsFolder_)) return Fail("cannot create " + actionsFolder_);
  const UtcParts now = UtcNowParts();
  header_["journal"] = "korbu";
  header_["version"] = 1;
  header_["time"] = now.iso;
  for (int n = 1; n <= kMaxIdsPerSecond; ++n) {
    const std::string id = now.date + "-" + now.time + "-" + TwoDigits(static_cast<unsigned>(n));
    const std::string folder = InFolder(actionsFolder_, id);
    if (platform::GetEntryInfo(folder)) continue;
    if (!platform::MakePrivateFolders(folder)) return Fail("cannot create " + folder);
    // The journal is created exclusively: of two programs that took the same
    // folder at once, the second moves on to the next id.
    header_["id"] = id;
    const std::string journal = InFolder(folder, kJournalFileName);
    auto file = platform::DurableFile::CreateNew(journal);
    if (!file && platform::GetEntryInfo(journal)) continue;
    if (!file || !file->Write(header_.dump() + "\n") || !file->Sync() || !platform::SyncFolder(folder) ||
        !platform::SyncFolder(actionsFolder_)) {
      return Fail("cannot write the undo journal in " + folder);
    }
    id_ = id;
    folder_ = folder;
    return true;
  }
  return Fail("cannot create an undo journal in " + actionsFolder_);
}

bool JournalWriter::Append(const nlohmann::json& entry) {
  if (!Start()) return false;
  if (!AppendLine(InFolder(folder_, kJournalFileName), entry)) {
    return Fail("cannot write the undo journal in " + folder_);
  }
  return true;
}

std::vector<std::string> ActionIds(const std::string& actionsFolder) {
  std::vector<std::string> ids;
  if (actionsFolder.empty()) return ids;
  // No actions folder yet means no actions.
  (void)platform::ListFolder(actionsFolder, "*", [&](const platform::EntryInfo& entry) {
    if (entry.kind == platform::EntryKind::Directory) ids.push_back(entry.name);
    return true;
  });
  // Fixed-width ids sort by time.
  std::sort(ids.begin(), ids.end());
  return ids;
}

std::optional<ActionRecord> ReadAction(const std::string& actionsFolder, const std::string& id) {
  if (actionsFolder.empty() || id.empty() || id.find_first_of("/\\") != std::string::npos || id[0] == '.') {
    return std::nullopt;
  }
  ActionRecord action;
  action.id = id;
  action.folder = InFolder(actionsFolder, id);
  const auto text = platform::ReadWholeFile(InFolder(action.folder, kJournalFileName), platform::ShareMode::DenyNone);
  if (!text) return std::nullopt;
  std::size_t start = 0;
  bool first = true;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    if (end == std::string::npos) break;  // a line whose writing never finished
    auto line = nlohmann::json::parse(text->begin() + static_cast<std::ptrdiff_t>(start),
                                      text->begin() + static_cast<std::ptrdiff_t>(end), nullptr, false);
    start = end + 1;
    if (line.is_discarded() || !line.is_object()) continue;
    if (first) {
      if (line.value("journal", "") != "korbu") return std::nullopt;
      action.header = std::move(line);
      first = false;
    } else {
      action.entries.push_back(std::move(line));
    }
  }
  if (first) return std::nullopt;
  return action;
}

bool AppendToAction(const ActionRecord& action, const nlohmann::json& entry) {
  return AppendLine(InFolder(action.folder, kJournalFileName), entry);
}

}  // namespace korbu
