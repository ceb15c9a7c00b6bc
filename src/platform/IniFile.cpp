// Portable: INI files are plain files on every platform.
#include "platform/IniFile.h"

#include <vector>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"

namespace korbu::platform {
namespace {

struct Line {
  std::size_t begin = 0;  // first byte of the line
  std::size_t end = 0;    // one past its last byte, before the line break
  std::size_t next = 0;   // first byte of the following line
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  std::size_t pos = 0;
  while (pos < text.size()) {
    Line line;
    line.begin = pos;
    const auto lf = text.find('\n', pos);
    if (lf == std::string_view::npos) {
      // A '\r' at the very end is the first half of a line break, as it becomes
      // once anything is added after it.
      line.next = text.size();
      line.end = text.back() == '\r' ? text.size() - 1 : text.size();
    } else {
      line.end = (lf > pos && text[lf - 1] == '\r') ? lf - 1 : lf;
      line.next = lf + 1;
    }
    lines.push_back(line);
    pos = line.next;
  }
  return lines;
}

std::string_view Trim(std::string_view s) {
  const auto first = s.find_first_not_of(" \t");
  if (first == std::string_view::npos) return {};
  return s.substr(first, s.find_last_not_of(" \t") - first + 1);
}


// The section name of a header line ("[name]"), or nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  line = Trim(line);
  if (line.empty() || line.front() != '[') return std::nullopt;
  const auto close = line.rfind(']');
  if (close == std::string_view::npos || close == 0) return std::nullopt;
  return Trim(line.substr(1, close - 1));
}

// The key name of an entry line: what stands before its '=', or the whole line.
std::string_view KeyName(std::string_view line) {
  return Trim(line.substr(0, line.find('=')));
}

// What ends the text's last line before anything is added after it.
std::string_view BreakAfterLastLine(std::string_view text, std::string_view newline) {
  if (text.empty() || text.back() == '\n') return {};
  return text.back() == '\r' ? "\n" : newline;
}

bool HasLineBreakOrZero(std::string_view s) { return s.find_first_of(std::string_view("\r\n\0", 3)) != std::string_view::npos; }

// Where an entry of a section stands in a text, found as the profile API finds
// it: the first section of that name, the first key line of that name in it.
struct EntryPlace {
  std::vector<Line> lines;
  std::size_t bom = 0;           // a UTF-8 byte order mark is no part of the first line
  std::size_t section = 0;       // the header's line; lines.size() when there is none
  std::size_t key = 0;           // the key's line; lines.size() when there is none
  std::size_t lastFilled = 0;    // the header, or the section's last non-blank line

  std::string_view Text(std::string_view content, std::size_t i) const {
    const Line& line = lines[i];
    const std::size_t begin = line.begin == 0 ? bom : line.begin;
    return content.substr(begin, line.end > begin ? line.end - begin : 0);
  }
};

EntryPlace FindEntry(std::string_view content, std::string_view section, std::string_view key) {
  EntryPlace place;
  place.lines = SplitLines(content);
  place.bom = content.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;
  const std::size_t none = place.lines.size();
  place.section = place.key = none;
  for (std::size_t i = 0; i < none; ++i) {
    const auto name = SectionName(place.Text(content, i));
    if (name && EqualsIgnoringCase(*name, section)) {
      place.section = i;
      break;
    }
  }
  if (place.section == none) return place;
  place.lastFilled = place.section;
  for (std::size_t j = place.section + 1; j < none; ++j) {
    const std::string_view text = place.Text(content, j);
    if (SectionName(text)) break;
    if (Trim(text).empty()) continue;
    if (EqualsIgnoringCase(KeyName(text), key)) {
      place.key = j;
      break;
    }
    place.lastFilled = j;
  }
  return place;
}

}  // namespace

std::optional<std::string> IniValue(std::string_view content, std::string_view section, std::string_view key) {
  const EntryPlace place = FindEntry(content, Trim(section), Trim(key));
  if (place.key == place.lines.size()) return std::nullopt;
  const std::string_view text = place.Text(content, place.key);
  const auto eq = text.find('=');
  return std::string(eq == std::string_view::npos ? std::string_view() : Trim(text.substr(eq + 1)));
}

std::optional<std::string> WithIniEntry(std::string_view content, std::string_view section,
                                        std::string_view key, std::string_view value) {
  section = Trim(section);
  key = Trim(key);
  // A key line that begins with '[' can read as a section header, and then the
  // entry could never be found again.
  if (section.empty() || key.empty() || HasLineBreakOrZero(section) || HasLineBreakOrZero(key) ||
      HasLineBreakOrZero(value) || section.find(']') != std::string_view::npos ||
      key.find('=') != std::string_view::npos || key.front() == '[') {
    return std::nullopt;
  }

  const auto firstLf = content.find('\n');
  const std::string_view newline =
      (firstLf != std::string_view::npos && (firstLf == 0 || content[firstLf - 1] != '\r')) ? "\n" : "\r\n";
  const EntryPlace place = FindEntry(content, section, key);
  const auto& lines = place.lines;

  std::string out;
  if (place.section == lines.size()) {
    out = std::string(content);
    out += BreakAfterLastLine(content, newline);
    out += "[" + std::string(section) + "]" + std::string(newline);
    out += std::string(key) + "=" + std::string(value) + std::string(newline);
    return out;
  }
  if (place.key != lines.size()) {
    const std::string_view text = place.Text(content, place.key);
    out = std::string(content.substr(0, lines[place.key].begin));
    const std::string_view indent = text.substr(0, text.find_first_not_of(" \t"));
    out += std::string(indent) + std::string(KeyName(text)) + "=" + std::string(value);
    out += std::string(content.substr(lines[place.key].end));
    return out;
  }
  const Line& after = lines[place.lastFilled];
  out = std::string(content.substr(0, after.next));
  if (after.next == content.size()) out += BreakAfterLastLine(content, newline);
  out += std::string(key) + "=" + std::string(value) + std::string(newline);
  out += std::string(content.substr(after.next));
  return out;
}

bool WriteIniString(const std::string& path, std::string_view section, std::string_view key,
                    std::string_view value) {
  // The folder is held: a folder on the path swapped for a link meanwhile cannot
  // send the write elsewhere.
  const auto parent = OpenParent(path);
  return parent && WriteIniString(parent->first, parent->second, section, key, value);
}

Status WriteIniString(const Folder& folder, const std::string& name, std::string_view section, std::string_view key,
                      std::string_view value) {
  std::string content;
  if (const auto info = folder.Entry(name)) {
    if (info->kind != EntryKind::Regular) return Failure(folder.PathOf(name) + " is not a regular file");
    auto old = folder.ReadFile(name, kMaxIniFileBytes);
    if (!old) return old.error().Context("cannot read " + folder.PathOf(name));
    content = std::move(*old);
  }
  const auto updated = WithIniEntry(content, section, key, value);
  if (!updated) return Failure("the entry cannot be written as one line of an INI file");
  return folder.RewriteFile(name, *updated);
}

}  // namespace korbu::platform
