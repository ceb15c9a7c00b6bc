#include "platform/wine/WineRegistryText.h"
#include "platform/HexText.h"

#include <algorithm>
#include <unordered_map>
#include <utility>

#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryCodec.h"

namespace korbu::platform::wine {
namespace {

constexpr std::string_view kHeader = "WINE REGISTRY Version 2";
// Seconds between 1601-01-01 and 1970-01-01, for the FILETIME of #time=.
constexpr std::int64_t kEpochDifference = 11644473600;

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

// Wine's order of keys in its files: depth first, siblings in name order, which is
// the component-wise order of the paths.
std::strong_ordering ComparePaths(const WineKeyPath& a, const WineKeyPath& b) {
  const std::size_t common = std::min(a.size(), b.size());
  for (std::size_t i = 0; i < common; ++i) {
    if (auto order = CompareNames(a[i], b[i]); order != std::strong_ordering::equal) return order;
  }
  return a.size() <=> b.size();
}

bool SamePath(const WineKeyPath& a, const WineKeyPath& b) {
  return ComparePaths(a, b) == std::strong_ordering::equal;
}

bool IsPrefixOf(const WineKeyPath& prefix, const WineKeyPath& path) {
  if (prefix.size() > path.size()) return false;
  for (std::size_t i = 0; i < prefix.size(); ++i)
    if (!SameName(prefix[i], path[i])) return false;
  return true;
}

// A header's key name split as wineserver splits it: at each run of backslashes,
// a trailing one ignored; a name that begins with one names no key.
std::optional<WineKeyPath> SplitHeaderName(std::u16string_view name) {
  WineKeyPath path;
  if (!name.empty() && name.front() == u'\\') return std::nullopt;
  std::size_t start = 0;
  while (start < name.size()) {
    std::size_t end = name.find(u'\\', start);
    if (end == std::u16string_view::npos) end = name.size();
    path.emplace_back(name.substr(start, end - start));
    start = end;
    while (start < name.size() && name[start] == u'\\') ++start;
  }
  return path;
}

// A header names its key as the components joined by backslashes, so a component
// that is empty or holds a backslash would read back as another key.
bool Writable(const WineKeyPath& key) {
  return std::none_of(key.begin(), key.end(), [](const std::u16string& part) {
    return part.empty() || part.find(u'\\') != std::u16string::npos;
  });
}

}  // namespace

WineRegistryText::WineRegistryText(std::string content) : content_(std::move(content)) { Parse(); }

void WineRegistryText::Parse() {
  std::size_t offset = 0;
  while (offset < content_.size()) {
    const std::size_t end = content_.find('\n', offset);
    LineSpan span;
    span.begin = offset;
    span.next = end == std::string::npos ? content_.size() : end + 1;
    span.length = (end == std::string::npos ? content_.size() : end) - offset;
    if (span.length > 0 && content_[offset + span.length - 1] == '\r') --span.length;
    lines_.push_back(span);
    offset = span.next;
  }
  auto view = [&](std::size_t line) { return std::string_view(content_.data() + lines_[line].begin, lines_[line].length); };
  if (lines_.empty() || view(0) != kHeader) return;
  valid_ = true;
  if (lines_[0].next - lines_[0].begin == kHeader.size() + 2) newline_ = "\r\n";

  Section* current = nullptr;
  auto close = [&](std::size_t line) {
    if (current != nullptr) current->endLine = line;
    current = nullptr;
  };
  for (std::size_t i = 1; i < lines_.size(); ++i) {
    const std::string_view text = view(i);
    std::size_t pos = 0;
    while (pos < text.size() && IsSpace(text[pos])) ++pos;
    if (pos == text.size()) continue;
    if (text[pos] != '[') {
      // Values, options, comments and unreadable lines; a hex list's continuation
      // lines never begin with "[".
      if (current != nullptr) current->contentEnd = i + 1;
      continue;
    }
    close(i);
    std::u16string name;
    auto used = ParseEscaped(text.substr(pos + 1), ']', name);
    if (!used) continue;  // a broken header: its values belong to no key, as in Wine
    auto path = SplitHeaderName(name);
    if (!path) continue;
    Section section;
    section.path = std::move(*path);
    section.headerLine = i;
    section.contentEnd = i + 1;
    sections_.push_back(std::move(section));
    current = &sections_.back();
  }
  close(lines_.size());
}

std::vector<WineRegistryText::Entry> WineRegistryText::EntriesOf(const std::vector<const Section*>& sections) const {
  std::vector<Entry> entries;
  for (const Section* section : sections) {
    std::vector<std::string_view> views;
    views.reserve(section->endLine - section->headerLine - 1);
    for (std::size_t line = section->headerLine + 1; line < section->endLine; ++line)
      views.emplace_back(content_.data() + lines_[line].begin, lines_[line].length);
    for (std::size_t i = 0; i < views.size(); ++i) {
      std::size_t pos = 0;
      while (pos < views[i].size() && IsSpace(views[i][pos])) ++pos;
      if (pos == views[i].size() || (views[i][pos] != '"' && views[i][pos] != '@')) continue;
      if (auto parsed = ParseValueEntry(views, i)) {
        entries.push_back(Entry{std::move(parsed->value), section->headerLine + 1 + i, parsed->lineCount});
        i += parsed->lineCount - 1;
      }
    }
  }
  return entries;
}

bool WineRegistryText::KeyExists(const WineKeyPath& key) const {
  if (!valid_) return false;
  if (key.empty()) return true;
  return std::any_of(sections_.begin(), sections_.end(),
                     [&](const Section& s) { return IsPrefixOf(key, s.path); });
}

std::vector<const WineRegistryText::Section*> WineRegistryText::SectionsOf(const WineKeyPath& key) const {
  std::vector<const Section*> found;
  for (const Section& section : sections_)
    if (SamePath(section.path, key)) found.push_back(&section);
  return found;
}

std::vector<WineValue> WineRegistryText::Values(const WineKeyPath& key) const {
  std::vector<WineValue> values;
  std::unordered_map<std::u16string, std::size_t> index;  // folded name -> position
  for (Entry& entry : EntriesOf(SectionsOf(key))) {
    const auto [found, added] = index.try_emplace(FoldedName(entry.value.name), values.size());
    if (added) {
      values.push_back(std::move(entry.value));
    } else {
      values[found->second].type = entry.value.type;
      values[found->second].data = std::move(entry.value.data);
    }
  }
  return values;
}

std::optional<WineValue> WineRegistryText::Find(const WineKeyPath& key, std::u16string_view name) const {
  std::optional<WineValue> found;
  for (const Entry& entry : EntriesOf(SectionsOf(key))) {
    if (!SameName(entry.value.name, name)) continue;
    if (found) {
      found->type = entry.value.type;
      found->data = entry.value.data;
    } else {
      found = entry.value;
    }
  }
  return found;
}

bool WineRegistryText::WaitsForNextLine(std::size_t line) const {
  std::string_view text(content_.data() + lines_[line].begin, lines_[line].length);
  while (!text.empty() && IsSpace(text.front())) text.remove_prefix(1);
  if (text.empty()) return false;
  // Read as the entry reader reads it, with a blank line after it: an entry that
  // takes that line, or a list's line that would go on, waits for the next line.
  std::string entry;
  if (text.front() != '"' && text.front() != '@') entry = "@=hex:";
  entry += text;
  const auto parsed = ParseValueEntry({entry, std::string_view()}, 0);
  return parsed && parsed->lineCount == 2;
}

std::string WineRegistryText::Splice(std::size_t fromLine, std::size_t toLine, std::string_view insert) const {
  auto offsetOf = [&](std::size_t line) { return line < lines_.size() ? lines_[line].begin : content_.size(); };
  const std::size_t from = offsetOf(fromLine);
  const std::size_t to = offsetOf(toLine);
  std::string out;
  out.reserve(content_.size() + insert.size() + 2);
  out.append(content_, 0, from);
  // A last line without its line end gets one before anything follows it.
  if (!insert.empty() && from == content_.size() && !content_.empty() && content_.back() != '\n')
    out += newline_;
  // A list cut off after its "\" would take the next line for its own: a comment
  // line ends it as it was (unreadable), so the new lines read as themselves.
  if (!insert.empty() && fromLine > 0 && fromLine <= lines_.size() && WaitsForNextLine(fromLine - 1))
    out += ";" + newline_;
  out.append(insert);
  out.append(content_, to, std::string::npos);
  return out;
}

std::optional<std::string> WineRegistryText::WithValue(const WineKeyPath& key, const WineValue& value,
                                                       std::int64_t nowUnixSeconds) const {
  if (!valid_ || !Writable(key)) return std::nullopt;
  const auto sections = SectionsOf(key);
  const auto entries = EntriesOf(sections);
  const Entry* last = nullptr;
  for (const Entry& entry : entries)
    if (SameName(entry.value.name, value.name)) last = &entry;
  if (last != nullptr) {
    // The value keeps the spelling of its name, as in Windows.
    WineValue replaced = value;
    replaced.name = last->value.name;
    return Splice(last->firstLine, last->firstLine + last->lineCount, FormatValue(replaced, newline_));
  }
  if (sections.empty()) return WithNewSection(key, &value, nowUnixSeconds);
  const Section& target = *sections.front();
  // After the section's last line that is not blank, or after its last entry when
  // that entry's list goes on over blank lines: a line put in between would be
  // read as part of the list.
  std::size_t line = target.contentEnd;
  for (const Entry& entry : entries)
    if (entry.firstLine < target.endLine) line = std::max(line, entry.firstLine + entry.lineCount);
  for (const Entry& entry : entries) {
    if (entry.firstLine >= target.endLine) break;  // only the first section's values
    if (CompareNames(entry.value.name, value.name) == std::strong_ordering::greater) {
      line = entry.firstLine;
      break;
    }
  }
  return Splice(line, line, FormatValue(value, newline_));
}

std::optional<std::string> WineRegistryText::WithKey(const WineKeyPath& key, std::int64_t nowUnixSeconds) const {
  if (!valid_ || !Writable(key) || KeyExists(key)) return std::nullopt;
  return WithNewSection(key, nullptr, nowUnixSeconds);
}

std::optional<std::string> WineRegistryText::WithoutValue(const WineKeyPath& key, std::u16string_view name) const {
  if (!valid_) return std::nullopt;
  std::vector<std::pair<std::size_t, std::size_t>> removed;  // line ranges, in file order
  for (const Entry& entry : EntriesOf(SectionsOf(key)))
    if (SameName(entry.value.name, name)) removed.emplace_back(entry.firstLine, entry.firstLine + entry.lineCount);
  if (removed.empty()) return std::nullopt;
  std::string out;
  out.reserve(content_.size());
  std::size_t line = 0;
  for (const auto& [first, end] : removed) {
    for (; line < first; ++line) out.append(content_, lines_[line].begin, lines_[line].next - lines_[line].begin);
    line = end;
  }
  for (; line < lines_.size(); ++line) out.append(content_, lines_[line].begin, lines_[line].next - lines_[line].begin);
  return out;
}

WineRegistryText::Content WineRegistryText::ContentOf(const WineKeyPath& key) const {
  if (!KeyExists(key)) return Content::Missing;
  for (const Section& section : sections_)
    if (section.path.size() > key.size() && IsPrefixOf(key, section.path)) return Content::NotEmpty;
  return EntriesOf(SectionsOf(key)).empty() ? Content::Empty : Content::NotEmpty;
}

std::optional<std::string> WineRegistryText::WithoutEmptyKey(const WineKeyPath& key) const {
  if (!valid_ || key.empty() || ContentOf(key) != Content::Empty) return std::nullopt;
  std::string out;
  out.reserve(content_.size());
  std::size_t line = 0;
  for (const Section* section : SectionsOf(key)) {
    for (; line < section->headerLine; ++line) out.append(content_, lines_[line].begin, lines_[line].next - lines_[line].begin);
    line = section->endLine;
  }
  for (; line < lines_.size(); ++line) out.append(content_, lines_[line].begin, lines_[line].next - lines_[line].begin);
  return out;
}

std::string WineRegistryText::NewSectionText(const WineKeyPath& key, const WineValue* value,
                                             std::int64_t nowUnixSeconds) const {
  std::string text = "[";
  for (std::size_t i = 0; i < key.size(); ++i) {
    if (i > 0) text += "\\\\";
    text += DumpEscaped(key[i], '[', ']');
  }
  text += "] " + std::to_string(nowUnixSeconds) + newline_;
  const auto fileTime = static_cast<std::uint64_t>(nowUnixSeconds + kEpochDifference) * 10000000u;
  text += "#time=" + HexNumber(fileTime >> 32) + HexNumber(fileTime & 0xFFFFFFFFu, 8) + newline_;
  if (value != nullptr) text += FormatValue(*value, newline_);
  return text;
}

std::optional<std::string> WineRegistryText::WithNewSection(const WineKeyPath& key, const WineValue* value,
                                                            std::int64_t nowUnixSeconds) const {
  const std::string text = NewSectionText(key, value, nowUnixSeconds);
  for (const Section& section : sections_) {
    if (ComparePaths(section.path, key) == std::strong_ordering::greater)
      return Splice(section.headerLine, section.headerLine, text + newline_);
  }
  return Splice(lines_.size(), lines_.size(), newline_ + text);
}

std::optional<WineKeyPath> SplitKeyPath(std::string_view path) {
  if (!path.empty() && path.back() == '\\') path.remove_suffix(1);
  WineKeyPath parts;
  if (path.empty()) return parts;
  const std::u16string units = Wtf8ToUtf16(path);
  if (units.find(u'\0') != std::u16string::npos) return std::nullopt;
  std::size_t start = 0;
  for (;;) {
    const std::size_t end = units.find(u'\\', start);
    const std::u16string_view part = std::u16string_view(units).substr(start, end == std::u16string::npos ? end : end - start);
    if (part.empty()) return std::nullopt;
    parts.emplace_back(part);
    if (end == std::u16string::npos) return parts;
    start = end + 1;
  }
}

}  // namespace korbu::platform::wine
