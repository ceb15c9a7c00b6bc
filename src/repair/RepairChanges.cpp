#include "repair/RepairChanges.h"

#include <algorithm>
#include <new>
#include <optional>

#include "platform/FileSystem.h"
#include "platform/IniFile.h"
#include "platform/SystemError.h"
#include "platform/Trash.h"
#include "repair/RegistryValues.h"
#include "scan/RegistryLocations.h"
#include "services/MiniReg.h"
#include "services/ProcList.h"

namespace korbu {
namespace {

Status ReplaceKeepingBackup(const platform::Folder& folder, const std::string& name, const std::string& content,
                            const std::string& backupName) {
  auto old = ReadRegularFile(folder, name, kMaxReplacedFileBytes);
  if (!old) return old.error();
  auto backup = folder.BeginFile(backupName);
  if (!backup) return backup.error();
  if (!backup->Content().Write(old->bytes)) return platform::LastSystemError().Context(folder.PathOf(backupName));
  // The copy belongs to whom the file belongs (root repairing a user's hosts
  // file leaves the user a copy to read); no copy needs a set-ID bit.
  Status kept = Ok();
  if (old->status.owner && old->status.group) {
    kept = backup->GiveOwnerIfPermitted(*old->status.owner, *old->status.group);
    if (!kept) kept = kept.error().Context(folder.PathOf(backupName));
  }
  if (kept) kept = backup->SetMode(old->status.mode & ~platform::kSetIdBits);
  if (kept) kept = backup->Commit();
  if (!kept) return kept;
  return folder.RewriteFile(name, content);
}

class ApplySink final : public ChangeSink {
 public:
  bool Applies() const override { return true; }
  Status EndProcesses(const std::string& imagePath) override { return EndProcessesOfFile(imagePath); }
  std::optional<std::vector<std::string>> RunningPrograms() override {
    auto paths = GetProcessPaths();
    if (!paths) return std::nullopt;
    return std::move(*paths);
  }
  Status ClearAttributes(const platform::Folder& folder, const std::string& name) override {
    return folder.SetAttributes(name, platform::kAttrNormal);
  }
  Status DeleteFile(const platform::Folder& folder, const std::string& name) override {
    return folder.DeleteFile(name);
  }
  Expected<std::string> MoveToTrash(const platform::Folder& folder, const std::string& name) override {
    Expected<std::string> at = Failure("out of memory");  // the item stays where it was
    try {
      at = platform::MoveToTrash(folder, name);
    } catch (const std::bad_alloc&) {
    }
    return at;
  }
  Status WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                       std::string_view key, std::string_view value) override {
    return platform::WriteIniString(folder, name, section, key, value);
  }
  Status ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name, const std::string& content,
                                  const std::string& backupName) override {
    return ReplaceKeepingBackup(folder, name, content, backupName);
  }
  Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                        std::string_view text) override {
    return SetRegistryValue(system, value, platform::kRegSz, platform::RegistryStringData(text));
  }
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                       std::uint32_t data) override {
    return SetRegistryValue(system, value, platform::kRegDword, DwordData(data));
  }
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override {
    return RemoveRegValue(system, value.root, value.keyPath, value.valueName);
  }
};

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

Expected<FileContent> ReadRegularFile(const platform::Folder& folder, const std::string& name,
                                      std::uint64_t maxBytes) {
  auto held = folder.OpenRegular(name);
  if (!held) return held.error();
  auto bytes = platform::ReadToEnd(held->file, maxBytes);
  if (!bytes) return bytes.error().Context(folder.PathOf(name));
  return FileContent{std::move(*bytes), held->status};
}

Status PreviewSink::EndProcesses(const std::string& imagePath) {
  const auto running = GetProcessPaths();
  if (!running) return running.error();
  if (std::find(running->begin(), running->end(), imagePath) != running->end()) {
    changes_.push_back({ChangeKind::EndProcesses, imagePath, {}, {}, {}});
  }
  return Ok();
}

Status PreviewSink::ClearAttributes(const platform::Folder& folder, const std::string& name) {
  const auto info = folder.Entry(name);
  if (!info || info->kind == platform::EntryKind::Link) return Failure(folder.PathOf(name) + " is no file");
  if ((info->attributes & platform::kAttrReadOnly) != 0) {
    changes_.push_back({ChangeKind::ClearAttributes, folder.PathOf(name), {}, {}, {}});
  }
  return Ok();
}

Status PreviewSink::DeleteFile(const platform::Folder& folder, const std::string& name) {
  changes_.push_back({ChangeKind::DeleteFile, folder.PathOf(name), {}, {}, {}});
  return Ok();
}

Expected<std::string> PreviewSink::MoveToTrash(const platform::Folder& folder, const std::string& name) {
  if (!trashed_.insert(folder.PathOf(name)).second) return Failure("it is moved to the Trash already");
  changes_.push_back({ChangeKind::MoveToTrash, folder.PathOf(name), {}, {}, {}});
  return std::string();
}

Status PreviewSink::WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                                  std::string_view key, std::string_view value) {
  std::string before = "(none)";
  if (folder.Entry(name)) {
    auto content = ReadRegularFile(folder, name, platform::kMaxIniFileBytes);
    if (!content) return content.error();
    if (const auto current = platform::IniValue(content->bytes, section, key)) before = "\"" + *current + "\"";
  }
  changes_.push_back({ChangeKind::WriteIniValue,
                      folder.PathOf(name) + " [" + std::string(section) + "] " + std::string(key), before,
                      "\"" + std::string(value) + "\"", {}});
  return Ok();
}

Status PreviewSink::ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name,
                                             const std::string& content, const std::string& backupName) {
  auto old = ReadRegularFile(folder, name, kMaxReplacedFileBytes);
  if (!old) return old.error();
  changes_.push_back({ChangeKind::ReplaceFile, folder.PathOf(name), std::move(old->bytes), content,
                      folder.PathOf(backupName)});
  return Ok();
}

// A value set to the type and data it holds changes nothing, and is not listed.
void PreviewSink::PlanRegistryWrite(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                    std::uint32_t type, const std::string& data, std::string after) {
  const auto current = CurrentRegistryValue(system, value);
  if (current && current->type == type && current->data == data) return;
  changes_.push_back({ChangeKind::WriteRegistry, RegistryLocationText(value), FormatRegistryData(current),
                      std::move(after), {}});
}

Status PreviewSink::WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                   std::string_view text) {
  PlanRegistryWrite(system, value, platform::kRegSz, platform::RegistryStringData(text),
                    "\"" + std::string(text) + "\"");
  return Ok();
}

Status PreviewSink::WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                  std::uint32_t data) {
  PlanRegistryWrite(system, value, platform::kRegDword, DwordData(data), "dword:" + std::to_string(data));
  return Ok();
}

Status PreviewSink::DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) {
  const auto current = CurrentRegistryValue(system, value);
  if (!current) return Failure("the value does not exist");  // nothing there to delete
  changes_.push_back({ChangeKind::DeleteRegistry, RegistryLocationText(value),
                      FormatRegistryData(current), "(none)", {}});
  return Ok();
}

std::vector<PlannedChange> PreviewSink::TakeChanges() {
  std::vector<PlannedChange> taken;
  taken.swap(changes_);
  return taken;
}

}  // namespace korbu
