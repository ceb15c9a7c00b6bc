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

}  // namespace

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
  // A UTF-8 byte order mark is not part of the first line's text.
  const std::size_t bom = content.substr(0, 3) == "\xEF\xBB\xBF" ? 3 : 0;

  const auto lines = SplitLines(content);
  auto lineText = [&](const Line& line) {
    const std::size_t begin = line.begin == 0 ? bom : line.begin;
    return content.substr(begin, line.end > begin ? line.end - begin : 0);
  };

  std::size_t i = 0;
  for (; i < lines.size(); ++i) {
    const auto name = SectionName(lineText(lines[i]));
    if (name && EqualsIgnoringCase(*name, section)) break;
  }

  std::string out;
  if (i == lines.size()) {
    out = std::string(content);
    out += BreakAfterLastLine(content, newline);
    out += "[" + std::string(section) + "]" + std::string(newline);
    out += std::string(key) + "=" + std::string(value) + std::string(newline);
    return out;
  }

  std::size_t lastFilled = i;  // the header, or the last non-blank line after it
  for (std::size_t j = i + 1; j < lines.size(); ++j) {
    const std::string_view text = lineText(lines[j]);
    if (SectionName(text)) break;
    if (Trim(text).empty()) continue;
    if (EqualsIgnoringCase(KeyName(text), key)) {
      out = std::string(content.substr(0, lines[j].begin));
      const std::string_view indent = text.substr(0, text.find_first_not_of(" \t"));
      out += std::string(indent) + std::string(KeyName(text)) + "=" + std::string(value);
      out += std::string(content.substr(lines[j].end));
      return out;
    }
    lastFilled = j;
  }

  const Line& after = lines[lastFilled];
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
  if (!parent) return false;
  const auto& [folder, name] = *parent;
  std::string content;
  if (const auto info = folder.Entry(name)) {
    if (info->kind != EntryKind::Regular) return false;
    auto old = folder.ReadFile(name, kMaxIniFileBytes);
    if (!old) return false;
    content = std::move(*old);
  }
  const auto updated = WithIniEntry(content, section, key, value);
  if (!updated) return false;
  return folder.ReplaceContent(name, *updated);
}

}  // namespace korbu::platform
