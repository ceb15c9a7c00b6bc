#pragma once
// Every change the repair makes to the system goes through a ChangeSink. The
// apply sink performs the changes; the preview sink only records what would be
// done, so a dry run walks the very same steps and changes nothing. A change to a
// file names it by a folder held open and a name in it (see platform::Folder):
// no step opens a path again after it looked at it.

#include <cstdint>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "platform/Registry.h"
#include "platform/WindowsSystem.h"
#include "scan/RegistryValueLocation.h"

namespace korbu {

enum class ChangeKind {
  EndProcesses,     // end the programs running an image file
  ClearAttributes,  // read-only (and what else the platform keeps) cleared
  DeleteFile,       // removed for good
  MoveToTrash,      // moved to the recycle bin, restorable
  WriteIniValue,    // one key of an INI file
  WriteRegistry,    // one registry value set
  DeleteRegistry,   // one registry value removed
  ReplaceFile,      // whole content replaced, the old one saved beside it
};

/// One change, as a preview records it.
struct PlannedChange {
  ChangeKind kind = ChangeKind::DeleteFile;
  std::string target;  // a native path, a registry location, or "path [section] key"
  std::string before;  // the current data, where the change has one ("(none)" when absent)
  std::string after;   // the new data, where the change has one
  std::string backup;  // ReplaceFile: where the old content goes
};

/// One line describing a change, for people.
std::string DescribeChange(const PlannedChange& change);

/// The largest file whose content the repair replaces (the hosts file: even long
/// block lists stay below it).
inline constexpr std::uint64_t kMaxReplacedFileBytes = 16ULL << 20;

class ChangeSink {
 public:
  virtual ~ChangeSink() = default;

  /// False for a sink that only records: callers then must not expect anything
  /// on disk or in the registry to have changed.
  virtual bool Applies() const = 0;

  /// Ends the programs running an image file (found by its path; no file
  /// changes); an error says why one may still run.
  virtual Status EndProcesses(const std::string& imagePath) = 0;
  /// The image paths of the programs running now, read once, so that an action
  /// asks EndProcesses only for files a program may run (see
  /// ProcessesEndedOnce). Nothing when the sink cannot tell: then every request
  /// must reach it. A sink passes it on only where its EndProcesses passes
  /// every request on unchanged.
  virtual std::optional<std::vector<std::string>> RunningPrograms() { return std::nullopt; }

  // Each file change says whether it was made (for a preview: would be tried),
  // and if not, why.
  virtual Status ClearAttributes(const platform::Folder& folder, const std::string& name) = 0;
  virtual Status DeleteFile(const platform::Folder& folder, const std::string& name) = 0;
  /// Moves a file or folder to the recycle bin; gives where it went (empty where
  /// the platform cannot tell, and for a preview).
  virtual Expected<std::string> MoveToTrash(const platform::Folder& folder, const std::string& name) = 0;
  /// Sets key=value in a section of an INI file.
  virtual Status WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                               std::string_view key, std::string_view value) = 0;
  /// Saves the file's current content as backupName, a new file in the same
  /// folder with the file's owner and mode, then replaces the file's content
  /// atomically; nothing is replaced when the copy fails or the file holds more
  /// than kMaxReplacedFileBytes.
  virtual Status ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name,
                                          const std::string& content, const std::string& backupName) = 0;

  // Each registry change acts on the registry of the system given, and says
  // whether it was made (or would be tried), and if not, why.
  virtual Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                                std::string_view text) = 0;
  virtual Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                               std::uint32_t data) = 0;
  /// Removes exactly that value, whatever its name holds.
  virtual Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) = 0;
};

/// The sink that performs every change on the real system.
ChangeSink& ApplyChanges();

/// Passes every change on to another sink: the base of sinks that watch or alter
/// a few of them.
class ForwardingSink : public ChangeSink {
 public:
  explicit ForwardingSink(ChangeSink& inner) : inner_(inner) {}
  bool Applies() const override { return inner_.Applies(); }
  Status EndProcesses(const std::string& imagePath) override { return inner_.EndProcesses(imagePath); }
  Status ClearAttributes(const platform::Folder& folder, const std::string& name) override {
    return inner_.ClearAttributes(folder, name);
  }
  Status DeleteFile(const platform::Folder& folder, const std::string& name) override {
    return inner_.DeleteFile(folder, name);
  }
  Expected<std::string> MoveToTrash(const platform::Folder& folder, const std::string& name) override {
    return inner_.MoveToTrash(folder, name);
  }
  Status WriteIniValue(const platform::Folder& folder, const std::string& name, std::string_view section,
                       std::string_view key, std::string_view value) override {
    return inner_.WriteIniValue(folder, name, section, key, value);
  }
  Status ReplaceFileKeepingBackup(const platform::Folder& folder, const std::string& name, const std::string& content,
                                  const std::string& backupName) override {
    return inner_.ReplaceFileKeepingBackup(folder, name, content, backupName);
  }
  Status WriteRegString(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                        std::string_view text) override {
    return inner_.WriteRegString(system, value, text);
  }
  Status WriteRegDWord(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                       std::uint32_t data) override {
    return inner_.WriteRegDWord(system, value, data);
  }
  Status DeleteRegValue(const platform::WindowsSystem& system, const RegistryValueLocation& value) override { return inner_.DeleteRegValue(system, value); }

 protected:
  ChangeSink& inner_;
};

/// Records the changes instead of making them, with the current data of the
/// registry values, INI keys and files they would touch.
class PreviewSink final : public ChangeSink {
 public:
  bool Applies() const override { return false; }
  Status EndProcesses(const std::string& imagePath) override;
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

  const std::vector<PlannedChange>& Changes() const { return changes_; }
  /// The changes recorded so far, leaving none.
  std::vector<PlannedChange> TakeChanges();

 private:
  void PlanRegistryWrite(const platform::WindowsSystem& system, const RegistryValueLocation& value, std::uint32_t type,
                         const std::string& data, std::string after);
  std::vector<PlannedChange> changes_;
  // Items already planned for the Trash: a later step that meets the same one
  // (a file the file step and the folder step both match) finds it gone when the
  // changes are made, so it is planned once.
  std::set<std::string> trashed_;
};

/// The whole content of a regular file of a held folder, with its status from the
/// same open; an error when it cannot be read or holds more than maxBytes.
struct FileContent {
  std::string bytes;
  platform::FileStatus status;
};
Expected<FileContent> ReadRegularFile(const platform::Folder& folder, const std::string& name, std::uint64_t maxBytes);

}  // namespace korbu
