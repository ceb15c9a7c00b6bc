#include "cli/ToldChanges.h"

namespace korbu::cli {

template <typename Result>
Result ToldChanges::Keep(Result made) {
  for (const PlannedChange& change : preview_.TakeChanges()) {
    if (made) made_.push_back(DescribeChange(change));
  }
  return made;
}

Status ToldChanges::EndProcesses(const std::string& imagePath) {
  (void)preview_.EndProcesses(imagePath);
  return Keep(inner_.EndProcesses(imagePath));
}

Status ToldChanges::ClearAttributes(const platform::Folder& folder, const std::string& name) {
  (void)preview_.ClearAttributes(folder, name);
  return Keep(inner_.ClearAttributes(folder, name));
}

Status ToldChanges::DeleteFile(const platform::Folder& folder, const std::string& name) {
  (void)preview_.DeleteFile(folder, name);
  return Keep(inner_.DeleteFile(folder, name));
}

Expected<std::string> ToldChanges::MoveToTrash(const platform::Folder& folder, const std::string& name) {
  (void)preview_.MoveToTrash(folder, name);
  return Keep(inner_.MoveToTrash(folder, name));
}

Status ToldChanges::WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                                  std::string_view key, std::string_view value) {
  (void)preview_.WriteIniValue(folder, name, section, key, value);
  return Keep(inner_.WriteIniValue(folder, name, section, key, value));
}

Status ToldChanges::ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name,
                                             const std::string& content, const std::string& backupName) {
  (void)preview_.ReplaceFileKeepingBackup(folder, name, content, backupName);
  return Keep(inner_.ReplaceFileKeepingBackup(folder, name, content, backupName));
}

Status ToldChanges::WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                   std::string_view text) {
  (void)preview_.WriteRegString(system, value, text);
  return Keep(inner_.WriteRegString(system, value, text));
}

Status ToldChanges::WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                  std::uint32_t data) {
  (void)preview_.WriteRegDWord(system, value, data);
  return Keep(inner_.WriteRegDWord(system, value, data));
}

Status ToldChanges::DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) {
  (void)preview_.DeleteRegValue(system, value);
  return Keep(inner_.DeleteRegValue(system, value));
}

std::vector<std::string> ToldChanges::TakeMade() {
  std::vector<std::string> made;
  made.swap(made_);
  return made;
}

}  // namespace korbu::cli
