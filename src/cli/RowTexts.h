#pragma once
// The texts a detection row shows in its "File Name" and "Information" columns,
// made from the row's data for every front end: both windows and korbu-scan's
// reports say the same thing.

#include <string>
#include <string_view>

#include "scan/DetectionList.h"

namespace korbu {

// The Information texts of the row kinds and results.
inline constexpr std::string_view kInfoMemory = "Memory was infected";
inline constexpr std::string_view kInfoRegistry = "Registry was infected";
inline constexpr std::string_view kInfoCleaned = "This object was cleaned!";
inline constexpr std::string_view kInfoDeleted = "This object was deleted!";

/// The path of a file or program row; a registry row's location: root key name,
/// "\", key path, "\", value name.
std::string RowFileName(const DetectionRow& row);

/// The result of a handled row, else its kind's text (empty for a file); a
/// failed row reads as its kind does, its failure being shown beside it.
std::string RowInformation(const DetectionRow& row);

}  // namespace korbu
