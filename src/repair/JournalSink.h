#pragma once
// The sink of the front ends' Clean and Delete: it makes each change as
// ApplyChanges() does, after recording in the action's journal what the change
// is about to alter, forced to the disk first. Files it deletes go to the
// action's quarantine before they are removed from their place. When the journal
// cannot be written, no change is made. While the action runs it holds the
// records' lock (see Journal.h).

#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_map>
#include <vector>

#include "platform/WholeFileKeeper.h"
#include "repair/Journal.h"
#include "repair/RepairChanges.h"
#include "scan/DetectionList.h"

namespace korbu {

class JournalSink final : public ChangeSink {
 public:
  /// Records the checked rows of the list as the action's rows; action is
  /// "clean" or "delete". The action is created at its first change. Changes
  /// are made through inner; over the applying sink, moves to the Trash are
  /// made here, so that where the item went can be recorded.
  JournalSink(std::string_view action, const DetectionList& rows, std::string actionsFolder = ActionsFolder(),
              ChangeSink& inner = ApplyChanges());
  /// Ends the action; one that changed nothing leaves no record.
  ~JournalSink() override;

  bool Applies() const override { return inner_.Applies(); }
  Status EndProcesses(const std::string& imagePath) override;
  std::optional<std::vector<std::string>> RunningPrograms() override { return inner_.RunningPrograms(); }
  Status ClearAttributes(const platform::Folder& folder, const std::string& name) override;
  Status DeleteFile(const platform::Folder& folder, const std::string& name) override;
  /// DeleteFile for the very file judged: refused when the name now holds
  /// another file than expected (by its identity on its volume).
  Status DeleteSameFile(const platform::Folder& folder, const std::string& name, const platform::FileStatus& expected);
  Expected<std::string> MoveToTrash(const platform::Folder& folder, const std::string& name) override;
  /// A regular file copied into target as a new file, recorded first.
  struct Copied {
    std::string path;             // the copy
    platform::FileStatus source;  // the very file copied
  };
  /// Copies the regular file into target under its own name, or the first free
  /// one of NAME.001 to NAME.999, never replacing anything; the copy is the
  /// running user's, readable by nobody else. Refused when the file changes
  /// while it is copied.
  Expected<Copied> CopyInto(const platform::Folder& folder, const std::string& name, const platform::Folder& target);
  Status WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                       std::string_view key, std::string_view value) override;
  Status ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name, const std::string& content,
                                  const std::string& backupName) override;
  Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                        std::string_view text) override;
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                       std::uint32_t data) override;
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override;

  /// The action's id once a change was recorded; empty before.
  const std::string& Id() const { return journal_.Id(); }
  /// Why changes were refused; empty while the journal works.
  const std::string& Error() const { return journal_.Error(); }
  /// How many of the recorded changes were made.
  int ChangesMade() const { return made_; }
  /// Forces the action's records to the disk (which ending the sink does too),
  /// or removes them for an action that changed nothing; the failure (with
  /// Error set when the records could not be written) or what stays.
  Status Finish();

 private:
  bool Record(JournalRecord record);
  Status DeleteHeld(const platform::Folder& folder, const std::string& name, const platform::FileStatus* expected);
  korbu::Error Refused() const;
  void NotMade();
  template <typename Result>
  Result Made(Result result);
  Status RecordRegistry(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                        std::optional<RegistryData> after);
  void Follow(const std::string& path);
  void Follow(const RegistryValueLocation& value);
  Status KeepWholeFiles(const platform::WholeFileReplacement& replacement);
  std::string CurrentVirus() const;

  ChangeSink& inner_;
  JournalWriter journal_;
  std::vector<ActionHeader::Row> rows_;
  std::unordered_map<std::string, std::size_t> rowOfFile_;  // the last row naming each path
  std::map<std::tuple<platform::RootKey, std::string, std::string>, std::size_t> rowOfValue_;  // and each value
  std::size_t current_ = 0;
  int changes_ = 0;
  int made_ = 0;
  int quarantined_ = 0;
  int kept_ = 0;
  // The mounted Windows volume of the latest registry change, whose hives a
  // write replaces; empty for another system.
  std::string volume_;
  // Files the registry backend replaces whole while the action runs are kept
  // with it (see KeptFiles.h).
  platform::ScopedWholeFileKeeper keeper_;
};

/// The journaled sink for one action of a front end.
std::unique_ptr<JournalSink> RecordedChanges(std::string_view action, const DetectionList& rows);

}  // namespace korbu
