#pragma once
// The rows of the detection list, shared by the desktop program (which shows them)
// and the command line (which prints them). Main thread only.

#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "scan/RegistryValueLocation.h"

namespace korbu {

// Information texts, which tell a row's kind.
inline constexpr std::string_view kInfoMemory = "Memory was infected";
inline constexpr std::string_view kInfoRegistry = "Registry was infected";
inline constexpr std::string_view kInfoCleaned = "This object was cleaned!";
inline constexpr std::string_view kInfoDeleted = "This object was deleted!";

enum class RowKind { File, Memory, Registry, Cleaned, Deleted };

struct DetectionRow {
  std::string fileName;     // a path, or a registry location
  std::string virusName;
  std::string information;  // empty for a file found by the walk
  bool checked = false;
  /// A registry detection's value exactly; fileName is its location text.
  std::optional<RegistryValueLocation> registryValue;
  /// The Wine prefix a memory row's program runs in (the one whose wineserver
  /// serves it), or a registry row's value is in: its repair acts on that
  /// prefix. Empty: the current system.
  std::string prefix;
  /// A memory row of a Windows program whose system could not be proven (see
  /// platform::ProcessInfo): why. Its repair then deletes its file and touches
  /// no system.
  std::string unknownSystem;
};

/// The kind of a row by its Information text; an unknown text counts as handled
/// only when it is one of the two result texts, so anything else stays pending.
RowKind KindOf(const DetectionRow& row);

/// Pending rows can still be acted on; handled ones were cleaned or deleted.
bool IsPending(const DetectionRow& row);

class DetectionList {
 public:
  /// Called after a row was added (index of the new row) or changed (its index), and
  /// with npos after the list was cleared.
  using ChangeHandler = std::function<void(std::size_t index)>;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  /// True when a row's File Name names the same object: registry locations compare
  /// ignoring ASCII letter case, file paths by the platform's rule.
  bool IsDetected(const std::string& fileName) const;

  /// Appends an unchecked row; callers test IsDetected first. prefix: see DetectionRow.
  void AddDetection(const std::string& fileName, const std::string& virusName,
                    const std::string& information, const std::string& prefix = {});

  /// Appends a copy of a row, unchecked; callers test IsDetected first.
  void AddRow(DetectionRow row);

  /// Appends an unchecked row for a registry value, its location text as the file
  /// name; callers test IsRegistryDetected first. prefix: see DetectionRow.
  void AddRegistryDetection(const RegistryValueLocation& value, const std::string& virusName,
                            const std::string& information, const std::string& prefix = {});

  /// True when a row names that registry location (ASCII letter case ignored) in
  /// that prefix: the same location in two prefixes is two values.
  bool IsRegistryDetected(const std::string& location, const std::string& prefix) const;

  std::size_t Count() const { return rows_.size(); }
  const DetectionRow& Row(std::size_t index) const { return rows_.at(index); }
  const std::vector<DetectionRow>& Rows() const { return rows_; }

  /// A handled row cannot be checked: asking to check one leaves it unchecked.
  void SetChecked(std::size_t index, bool checked);
  void SetInformation(std::size_t index, const std::string& information);
  void Clear();

  void SetChangeHandler(ChangeHandler handler) { onChange_ = std::move(handler); }

 private:
  void Changed(std::size_t index) const;
  std::vector<DetectionRow> rows_;
  ChangeHandler onChange_;
};

}  // namespace korbu
