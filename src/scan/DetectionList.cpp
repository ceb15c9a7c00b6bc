#include "scan/DetectionList.h"

#include <algorithm>

#include "platform/AsciiCase.h"
#include "platform/Path.h"
#include "scan/RegistryLocations.h"

namespace korbu {

RowKind KindOf(const DetectionRow& row) {
  if (row.information == kInfoCleaned) return RowKind::Cleaned;
  if (row.information == kInfoDeleted) return RowKind::Deleted;
  if (row.information == kInfoMemory) return RowKind::Memory;
  if (row.information == kInfoRegistry) return RowKind::Registry;
  return RowKind::File;
}

bool IsPending(const DetectionRow& row) {
  RowKind kind = KindOf(row);
  return kind != RowKind::Cleaned && kind != RowKind::Deleted;
}

bool DetectionList::IsDetected(const std::string& fileName) const {
  const bool registry = IsRegistryPath(fileName);
  for (const auto& row : rows_) {
    if (registry ? platform::EqualsIgnoringCase(row.fileName, fileName)
                 : platform::SameFileName(row.fileName, fileName)) {
      return true;
    }
  }
  return false;
}

void DetectionList::AddDetection(const std::string& fileName, const std::string& virusName,
                                 const std::string& information, const std::string& prefix) {
  rows_.push_back(DetectionRow{fileName, virusName, information, false, std::nullopt, prefix, {}});
  Changed(rows_.size() - 1);
}

void DetectionList::AddRow(DetectionRow row) {
  row.checked = false;
  rows_.push_back(std::move(row));
  Changed(rows_.size() - 1);
}

bool DetectionList::IsRegistryDetected(const std::string& location, const std::string& prefix) const {
  return std::any_of(rows_.begin(), rows_.end(), [&](const DetectionRow& row) {
    return row.prefix == prefix && platform::EqualsIgnoringCase(row.fileName, location);
  });
}

void DetectionList::AddRegistryDetection(const RegistryValueLocation& value, const std::string& virusName,
                                         const std::string& information, const std::string& prefix) {
  rows_.push_back(DetectionRow{RegistryLocationText(value), virusName, information, false, value, prefix, {}});
  Changed(rows_.size() - 1);
}

void DetectionList::SetChecked(std::size_t index, bool checked) {
  auto& row = rows_.at(index);
  const bool value = checked && IsPending(row);
  if (row.checked == value) return;
  row.checked = value;
  Changed(index);
}

void DetectionList::SetInformation(std::size_t index, const std::string& information) {
  auto& row = rows_.at(index);
  if (row.information == information) return;
  row.information = information;
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
