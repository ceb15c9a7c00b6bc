#include "scan/DetectionList.h"

#include <algorithm>

#include "platform/AsciiCase.h"
#include "platform/Path.h"

namespace korbu {

bool IsPending(const DetectionRow& row) { return row.state == RowState::Pending || row.state == RowState::Failed; }

bool DetectionList::IsDetected(const std::string& path) const {
  return std::any_of(rows_.begin(), rows_.end(), [&](const DetectionRow& row) {
    return !row.IsRegistry() && platform::SameFileName(row.path, path);
  });
}

void DetectionList::AddDetection(std::string path, std::string virusName, DetectionKind kind,
                                 platform::WindowsSystemRef system) {
  DetectionRow row;
  row.kind = kind;
  row.path = std::move(path);
  row.system = std::move(system);
  row.virusName = std::move(virusName);
  AddRow(std::move(row));
}

void DetectionList::AddRow(DetectionRow row) {
  row.checked = false;
  rows_.push_back(std::move(row));
  Changed(rows_.size() - 1);
}

bool DetectionList::IsRegistryDetected(const RegistryValueLocation& value,
                                       const platform::WindowsSystemRef& system) const {
  return std::any_of(rows_.begin(), rows_.end(), [&](const DetectionRow& row) {
    return row.IsRegistry() && row.system == system && row.value.root == value.root &&
           platform::EqualsIgnoringCase(row.value.keyPath, value.keyPath) &&
           platform::EqualsIgnoringCase(row.value.valueName, value.valueName);
  });
}

void DetectionList::AddRegistryDetection(const RegistryValueLocation& value, std::string virusName,
                                         platform::WindowsSystemRef system) {
  DetectionRow row;
  row.kind = DetectionKind::RegistryValue;
  row.value = value;
  row.system = std::move(system);
  row.virusName = std::move(virusName);
  AddRow(std::move(row));
}

void DetectionList::SetChecked(std::size_t index, bool checked) {
  auto& row = rows_.at(index);
  const bool value = checked && IsPending(row);
  if (row.checked == value) return;
  row.checked = value;
  Changed(index);
}

void DetectionList::SetState(std::size_t index, RowState state, std::string failure) {
  auto& row = rows_.at(index);
  if (state != RowState::Failed) failure.clear();
  if (row.state == state && row.failure == failure) return;
  row.state = state;
  row.failure = std::move(failure);
  if (!IsPending(row)) row.checked = false;
  Changed(index);
}

void DetectionList::Clear() {
  rows_.clear();
  Changed(npos);
}

void DetectionList::Changed(std::size_t index) const {
  if (onChange_) onChange_(index);
}

}  // namespace korbu
