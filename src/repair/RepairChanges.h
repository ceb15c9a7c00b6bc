#pragma once
// Every change the repair makes to the system goes through a ChangeSink. The
// apply sink performs the changes; the preview sink only records what would be
// done, so a dry run walks the very same steps and changes nothing.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
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

  /// Each returns whether the change was made (or, for a preview, would be tried).
  virtual void EndProcesses(const std::string& imagePath) = 0;
  virtual bool ClearAttributes(const std::string& path) = 0;
  virtual bool DeleteFile(const std::string& path) = 0;
  virtual bool MoveToTrash(const std::string& path) = 0;
  /// Sets key=value in a section of the INI file at a native path.
  virtual bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                             std::string_view value) = 0;
  virtual bool WriteRegString(platform::RootKey root, std::string_view valuePath, std::string_view text) = 0;
  virtual bool WriteRegDWord(platform::RootKey root, std::string_view valuePath, std::uint32_t value) = 0;
  /// Removes exactly that value, whatever its name holds.
  virtual bool DeleteRegValue(const RegistryValueLocation& value) = 0;
  /// Saves the file's current content at backupPath (a new file), then replaces
  /// the file's content atomically; nothing is replaced when the copy fails or the
  /// file holds more than kMaxReplacedFileBytes.
  virtual bool ReplaceFileKeepingBackup(const std::string& path, const std::string& content,
                                        const std::string& backupPath) = 0;
};

/// The sink that performs every change on the real system.
ChangeSink& ApplyChanges();

/// Records the changes instead of making them, with the current data of the
/// registry values, INI keys and files they would touch.
class PreviewSink final : public ChangeSink {
 public:
  bool Applies() const override { return false; }
  void EndProcesses(const std::string& imagePath) override;
  bool ClearAttributes(const std::string& path) override;
  bool DeleteFile(const std::string& path) override;
  bool MoveToTrash(const std::string& path) override;
  bool WriteIniValue(const std::string& path, std::string_view section, std::string_view key,
                     std::string_view value) override;
  bool WriteRegString(platform::RootKey root, std::string_view valuePath, std::string_view text) override;
  bool WriteRegDWord(platform::RootKey root, std::string_view valuePath, std::uint32_t value) override;
  bool DeleteRegValue(const RegistryValueLocation& value) override;
  bool ReplaceFileKeepingBackup(const std::string& path, const std::string& content,
                                const std::string& backupPath) override;

  const std::vector<PlannedChange>& Changes() const { return changes_; }
  /// The changes recorded so far, leaving none.
  std::vector<PlannedChange> TakeChanges();

 private:
  std::vector<PlannedChange> changes_;
};

/// The value of a key in an INI text, sections and keys matched ignoring ASCII
/// case and surrounding blanks; empty when there is none.
std::string IniValueOf(std::string_view content, std::string_view section, std::string_view key);

}  // namespace korbu
