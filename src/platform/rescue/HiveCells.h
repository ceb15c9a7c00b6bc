#pragma once
// A key's values changed in the hive's bytes themselves, cell by cell: the
// values left alone keep every byte (big data, names no UTF-8 spells, a zero in
// a name), and the new value is stored as Windows stores one (inline up to 4
// bytes, big data above 16,344 bytes in hives of format 1.4 and later).
//
// Cells are given as offsets into the file (the base block counts), as
// libhivex's handles are.

#include <cstddef>
#include <string>
#include <utility>
#include <vector>

#include "platform/Expected.h"
#include "platform/rescue/Hive.h"

namespace korbu::platform::rescue {

/// The largest data one cell holds in a hive that knows big data.
inline constexpr std::size_t kBigDataSegmentBytes = 16344;

/// The byte ranges (offset, length) an edit wrote: cells taken, freed or
/// changed. Every other byte of the hive stays as it was.
using CellRanges = std::vector<std::pair<std::size_t, std::size_t>>;

/// Removes the value at index of the key's value list and frees its cells.
Status RemoveValueCells(std::string& hive, std::size_t keyCell, std::size_t index, CellRanges& edited);

/// Stores a value in the key: in place of the value at replace (its cells
/// freed), or after the others when replace is npos.
Status StoreValueCells(std::string& hive, std::size_t keyCell, const HiveValue& value, std::size_t replace,
                       CellRanges& edited);

}  // namespace korbu::platform::rescue
