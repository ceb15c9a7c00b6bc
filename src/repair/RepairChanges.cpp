#include "repair/RepairChanges.h"

#include <algorithm>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "repair/RegistryValues.h"
#include "scan/RegistryLocations.h"
#include "services/FileUtils.h"
#include "services/MiniReg.h"
#include "services/ProcList.h"
#include "services/ShellUtils.h"

namespace korbu {
namespace {

class ApplySink final : public ChangeSink {
 public:
  bool Applies() const override { return true; }
  void EndProcesses(const std::string& imagePath) override { EndProcessesOfFile(imagePath); }
  bool ClearAttributes(const std::string& path) override { return ClearFileAttributes(path); }
  bool DeleteFile(const std::string& path) override { return RemoveFile(path); }
  bool MoveToTrash(const std::string& path) override { return RecycleFile(path); }
  bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value) override {
    return platform::WriteIniString(path, section, key, value);
  }
  bool WriteRegString(platform::RootKey root, std::string_view valuePath, std::string_view text) override {
    return korbu::WriteRegString(root, valuePath, text);
  }
  bool WriteRegDWord(platform::RootKey root, std::string_view valuePath, std::uint32_t value) override {
    return korbu::WriteRegDWord(root, valuePath, value);
  }
  bool DeleteRegValue(const RegistryValueLocation& value) override {
    return korbu::DeleteRegValue(value.root, value.keyPath, value.valueName);
  }
  bool ReplaceFileKeepingBackup(const std::string& path, const std::string& content,
                                const std::string& backupPath) override {
    return korbu::ReplaceFileKeepingBackup(path, content, backupPath, kMaxReplacedFileBytes);
  }
};

std::string Trimmed(std::string_view text) {
  const auto blank = [](char c) { return c == ' ' || c == '\t' || c == '\r'; };
  while (!text.empty() && blank(text.front())) text.remove_prefix(1);
  while (!text.empty() && blank(text.back())) text.remove_suffix(1);
  return std::string(text);
}

bool SameIgnoringCase(std::string_view a, std::string_view b) {
  const auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + 32) : c; };
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                            [&](char x, char y) { return lower(x) == lower(y); });
}

const char* KindText(ChangeKind kind) {
  switch (kind) {
    case ChangeKind::EndProcesses: return "end programs running";
    case ChangeKind::ClearAttributes: return "clear attributes of";
    case ChangeKind::DeleteFile: return "delete";
    case ChangeKind::MoveToTrash: return "move to trash";
    case ChangeKind::WriteIniValue: return "set INI value";
    case ChangeKind::WriteRegistry: return "set registry value";
    case ChangeKind::DeleteRegistry: return "delete registry value";
    case ChangeKind::ReplaceFile: return "replace content of";
  }
  return "change";
}

// Control characters would break the one-line description.
std::string Printable(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\t') out += "\\t";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else if (static_cast<unsigned char>(c) < 0x20) out += '?';
    else out += c;
  }
  return out;
}

}  // namespace

ChangeSink& ApplyChanges() {
  static ApplySink sink;
  return sink;
}

std::string DescribeChange(const PlannedChange& change) {
  std::string line = std::string(KindText(change.kind)) + " " + Printable(change.target);
  switch (change.kind) {
    case ChangeKind::WriteIniValue:
    case ChangeKind::WriteRegistry:
    case ChangeKind::DeleteRegistry:
      line += ": " + Printable(change.before) + " -> " + Printable(change.after);
      break;
    case ChangeKind::ReplaceFile:
      line += " (old content saved as " + Printable(change.backup) + "): \"" + Printable(change.before) +
              "\" -> \"" + Printable(change.after) + "\"";
      break;
    default:
      break;
  }
  return line;
}

std::string IniValueOf(std::string_view content, std::string_view section, std::string_view key) {
  bool inSection = false;
  std::size_t start = 0;
  while (start <= content.size()) {
    std::size_t end = content.find('\n', start);
    if (end == std::string_view::npos) end = content.size();
    const std::string line = Trimmed(content.substr(start, end - start));
    if (!line.empty() && line.front() == '[') {
      const std::size_t close = line.find(']');
      inSection = close != std::string::npos && SameIgnoringCase(Trimmed(line.substr(1, close - 1)), Trimmed(section));
    } else if (inSection) {
      const std::size_t eq = line.find('=');
      if (eq != std::string::npos && SameIgnoringCase(Trimmed(line.substr(0, eq)), Trimmed(key))) {
        return Trimmed(line.substr(eq + 1));
      }
    }
    start = end + 1;
  }
  return std::string();
}

void PreviewSink::EndProcesses(const std::string& imagePath) {
  const auto running = GetProcessPaths();
  if (running && std::find(running->begin(), running->end(), imagePath) != running->end()) {
    changes_.push_back({ChangeKind::EndProcesses, imagePath, {}, {}, {}});
  }
}

bool PreviewSink::ClearAttributes(const std::string& path) {
  const auto info = platform::GetEntryInfo(path);
  if (!info || info->kind == platform::EntryKind::Link) return false;
  if ((info->attributes & platform::kAttrReadOnly) != 0) {
    changes_.push_back({ChangeKind::ClearAttributes, path, {}, {}, {}});
  }
  return true;
}

bool PreviewSink::DeleteFile(const std::string& path) {
  changes_.push_back({ChangeKind::DeleteFile, path, {}, {}, {}});
  return true;
}

bool PreviewSink::MoveToTrash(const std::string& path) {
  changes_.push_back({ChangeKind::MoveToTrash, path, {}, {}, {}});
  return true;
}

bool PreviewSink::WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                                std::string_view value) {
  std::string before = "(none)";
  if (const auto info = platform::GetEntryInfo(path)) {
    if (info->kind != platform::EntryKind::Regular) return false;
    const auto content = ReadSmallFile(path, platform::kMaxIniFileBytes);
    if (!content) return false;
    const std::string current = IniValueOf(*content, section, key);
    if (!current.empty()) before = "\"" + current + "\"";
  }
  changes_.push_back({ChangeKind::WriteIniValue, path + " [" + std::string(section) + "] " + std::string(key),
                      before, "\"" + std::string(value) + "\"", {}});
  return true;
}

bool PreviewSink::WriteRegString(platform::RootKey root, std::string_view valuePath, std::string_view text) {
  changes_.push_back({ChangeKind::WriteRegistry, MakeRegistryLocation(root, valuePath),
                      FormatRegistryData(CurrentRegistryValue(root, valuePath)),
                      "\"" + std::string(text) + "\"", {}});
  return true;
}

bool PreviewSink::WriteRegDWord(platform::RootKey root, std::string_view valuePath, std::uint32_t value) {
  changes_.push_back({ChangeKind::WriteRegistry, MakeRegistryLocation(root, valuePath),
                      FormatRegistryData(CurrentRegistryValue(root, valuePath)),
                      "dword:" + std::to_string(value), {}});
  return true;
}

bool PreviewSink::DeleteRegValue(const RegistryValueLocation& value) {
  const auto current = CurrentRegistryValue(value);
  if (!current) return false;  // nothing there to delete
  changes_.push_back({ChangeKind::DeleteRegistry, RegistryLocationText(value),
                      FormatRegistryData(current), "(none)", {}});
  return true;
}

bool PreviewSink::ReplaceFileKeepingBackup(const std::string& path, const std::string& content,
                                           const std::string& backupPath) {
  const auto old = ReadSmallFile(path, kMaxReplacedFileBytes);
  if (!old) return false;
  changes_.push_back({ChangeKind::ReplaceFile, path, *old, content, backupPath});
  return true;
}

std::vector<PlannedChange> PreviewSink::TakeChanges() {
  std::vector<PlannedChange> taken;
  taken.swap(changes_);
  return taken;
}

}  // namespace korbu
