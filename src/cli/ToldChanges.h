#pragma once
// The changes --clean and --delete make, told as a dry run tells them: each change
// goes on to the sink that makes it, and what it was (read before it is made) is
// kept for the report when it was made.

#include <string>
#include <vector>

#include "repair/RepairChanges.h"

namespace korbu::cli {

class ToldChanges final : public ForwardingSink {
 public:
  explicit ToldChanges(ChangeSink& inner) : ForwardingSink(inner) {}

  Status EndProcesses(const std::string& imagePath) override;
  std::optional<std::vector<std::string>> RunningPrograms() override { return inner_.RunningPrograms(); }
  Status ClearAttributes(const platform::Folder& folder, const std::string& name) override;
  Status DeleteFile(const platform::Folder& folder, const std::string& name) override;
  Expected<std::string> MoveToTrash(const platform::Folder& folder, const std::string& name) override;
  Status WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                       std::string_view key, std::string_view value) override;
  Status ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name, const std::string& content,
                                  const std::string& backupName) override;
  Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                        std::string_view text) override;
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                       std::uint32_t data) override;
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override;

  /// The changes made since the last call, each described for people.
  std::vector<std::string> TakeMade();

 private:
  /// Keeps what the preview described when made holds.
  template <typename Result>
  Result Keep(Result made);

  PreviewSink preview_;
  std::vector<std::string> made_;
};

}  // namespace korbu::cli
