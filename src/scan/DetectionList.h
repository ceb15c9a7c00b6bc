#pragma once
// The rows of the detection list, shared by the desktop program (which shows them)
// and the command line (which prints them). Main thread only. A row holds what was
// found as data (its kind, its path or registry value, its Windows system, its
// state); the front ends make the texts shown for it (cli/RowTexts.h).

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "platform/WindowsSystem.h"
#include "scan/RegistryValueLocation.h"

namespace korbu {

enum class DetectionKind {
  File,           // a file found by a walk, or the program a detected Run value starts
  Program,        // the image file of a running program
  RegistryValue,  // a start-up value that names an infected file
};

enum class RowState {
  Pending,  // found, not acted on
  Cleaned,  // handled by Clean
  Deleted,  // handled by Delete
  Failed,   // an action left something undone: still pending, failure says why
};

struct DetectionRow {
  DetectionKind kind = DetectionKind::File;
  /// File, Program: the native path. Empty for a registry value.
  std::string path;
  /// RegistryValue: the value exactly, key and name apart.
  RegistryValueLocation value;
  /// The system the object belongs to: the Wine prefix a program runs in (the
  /// one whose wineserver serves it), or a value is in; its repair acts on that
  /// system. Default: the system the scan ran on.
  platform::WindowsSystemRef system;
  std::string virusName;
  RowState state = RowState::Pending;
  std::string failure;  // Failed: the first thing the last action could not do
  bool checked = false;
  /// A program row of a Windows program whose system could not be proven (see
  /// platform::ProcessInfo): why. Its repair then deletes its file and touches
  /// no system.
  std::string unknownSystem;

  bool IsRegistry() const { return kind == DetectionKind::RegistryValue; }
};

/// The system of a row found in a Wine prefix; an empty folder gives Default.
inline platform::WindowsSystemRef SystemOfPrefix(const std::string& prefix) {
  return prefix.empty() ? platform::WindowsSystemRef{} : platform::WindowsSystemRef::Prefix(prefix);
}

/// Pending rows can still be acted on (a failed one too); handled ones were
/// cleaned or deleted.
bool IsPending(const DetectionRow& row);

class DetectionList {
 public:
  /// Called after a row was added (index of the new row) or changed (its index), and
  /// with npos after the list was cleared.
  using ChangeHandler = std::function<void(std::size_t index)>;
  static constexpr std::size_t npos = static_cast<std::size_t>(-1);

  /// True when a file or program row names that path, by the platform's rule
  /// for file names.
  bool IsDetected(const std::string& path) const;

  /// Appends an unchecked file or program row; callers test IsDetected first.
  void AddDetection(std::string path, std::string virusName, DetectionKind kind = DetectionKind::File,
                    platform::WindowsSystemRef system = {});

  /// Appends a copy of a row, unchecked; callers test IsDetected first.
  void AddRow(DetectionRow row);

  /// Appends an unchecked row for a registry value; callers test
  /// IsRegistryDetected first.
  void AddRegistryDetection(const RegistryValueLocation& value, std::string virusName,
                            platform::WindowsSystemRef system = {});

  /// True when a row names that value (key and name each compared ignoring ASCII
  /// letter case) of that system: the same value in two prefixes is two values.
  bool IsRegistryDetected(const RegistryValueLocation& value, const platform::WindowsSystemRef& system) const;

  std::size_t Count() const { return rows_.size(); }
  const DetectionRow& Row(std::size_t index) const { return rows_.at(index); }
  const std::vector<DetectionRow>& Rows() const { return rows_; }

  /// A handled row cannot be checked: asking to check one leaves it unchecked.
  void SetChecked(std::size_t index, bool checked);
  /// A handled state unchecks the row; failure is kept only for Failed.
  void SetState(std::size_t index, RowState state, std::string failure = {});
  void Clear();

  void SetChangeHandler(ChangeHandler handler) { onChange_ = std::move(handler); }

 private:
  void Changed(std::size_t index) const;
  std::vector<DetectionRow> rows_;
  ChangeHandler onChange_;
};

}  // namespace korbu
