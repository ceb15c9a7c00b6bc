#include "cli/RowTexts.h"

#include "scan/RegistryLocations.h"

namespace korbu {

std::string RowFileName(const DetectionRow& row) {
  return row.IsRegistry() ? RegistryLocationText(row.value) : row.path;
}

std::string RowInformation(const DetectionRow& row) {
  switch (row.state) {
    case RowState::Cleaned: return std::string(kInfoCleaned);
    case RowState::Deleted: return std::string(kInfoDeleted);
    case RowState::Pending:
    case RowState::Failed: break;
  }
  switch (row.kind) {
    case DetectionKind::Program: return std::string(kInfoMemory);
    case DetectionKind::RegistryValue: return std::string(kInfoRegistry);
    case DetectionKind::File: break;
  }
  return std::string();
}

}  // namespace korbu
