#include "platform/rescue/HiveCells.h"

#include <algorithm>
#include <vector>

#include "platform/rescue/HiveImage.h"
#include "platform/rescue/HiveNames.h"

namespace korbu::platform::rescue {
namespace {

// Offsets in a key node and a value record, from the cell start (its 4-byte
// size comes first).
constexpr std::size_t kNkValueCount = 4 + 36;
constexpr std::size_t kNkValueList = 4 + 40;
constexpr std::size_t kNkMaxValueName = 4 + 60;
constexpr std::size_t kNkMaxValueData = 4 + 64;
constexpr std::size_t kVkNameLength = 4 + 2;
constexpr std::size_t kVkDataSize = 4 + 4;
constexpr std::size_t kVkDataOffset = 4 + 8;
constexpr std::size_t kVkType = 4 + 12;
constexpr std::size_t kVkFlags = 4 + 16;
constexpr std::size_t kVkName = 4 + 20;
constexpr std::uint32_t kInlineData = 0x80000000u;
constexpr std::uint32_t kNoCell = 0xFFFFFFFFu;
constexpr std::uint32_t kBigDataMinorVersion = 4;

Error Broken(std::string what) { return Failure("damaged hive: " + std::move(what), kHiveDamaged); }

// A cell's file offset from a record's offset (relative to the hive bins).
std::size_t FileOffset(std::uint32_t relative) { return kBaseBlockBytes + relative; }

// The cell at a file offset, checked to lie in the hive and be allocated; its
// length (the size field included).
Expected<std::size_t> UsedCell(const std::string& hive, std::size_t at) {
  if (at < kBaseBlockBytes || at % 8 != 0 || hive.size() < 4 || at > hive.size() - 4) {
    return Broken("a cell offset outside the hive");
  }
  const auto size = static_cast<std::int32_t>(Le32At(hive, at));
  if (size >= 0) return Broken("a free cell in use");
  const auto length = static_cast<std::size_t>(-static_cast<std::int64_t>(size));
  if (length > hive.size() - at) return Broken("a cell past the end of the hive");
  return length;
}

void FreeCell(std::string& hive, std::size_t at, CellRanges& edited) {
  auto length = UsedCell(hive, at);
  if (!length) return;
  PutLe32(hive, at, static_cast<std::uint32_t>(*length));
  edited.emplace_back(at, *length);
}

// A new allocated cell of at least `bytes` of data: a free cell large enough,
// split when the rest can stand alone, else a new hive bin at the end.
std::size_t Allocate(std::string& hive, std::size_t bytes, CellRanges& edited) {
  const std::size_t need = (bytes + 4 + 7) / 8 * 8;
  const std::size_t end = kBaseBlockBytes + Le32At(hive, base::kBinsSize);
  for (std::size_t bin = kBaseBlockBytes; bin < end;) {
    const std::size_t binSize = Le32At(hive, bin + 8);
    for (std::size_t cell = bin + 32; cell < bin + binSize;) {
      const auto size = static_cast<std::int32_t>(Le32At(hive, cell));
      const std::size_t length = size < 0 ? static_cast<std::size_t>(-static_cast<std::int64_t>(size))
                                          : static_cast<std::size_t>(size);
      if (size > 0 && length >= need) {
        if (length - need >= 8) {
          PutLe32(hive, cell + need, static_cast<std::uint32_t>(length - need));
        }
        const std::size_t taken = length - need >= 8 ? need : length;
        PutLe32(hive, cell, static_cast<std::uint32_t>(-static_cast<std::int64_t>(taken)));
        std::fill(hive.begin() + static_cast<std::ptrdiff_t>(cell + 4),
                  hive.begin() + static_cast<std::ptrdiff_t>(cell + taken), '\0');
        edited.emplace_back(cell, length);
        return cell;
      }
      cell += length;
    }
    bin += binSize;
  }
  const std::size_t binSize = (need + 32 + kHiveBinAlignment - 1) / kHiveBinAlignment * kHiveBinAlignment;
  hive.resize(end);
  hive.append(binSize, '\0');
  hive.replace(end, 4, "hbin");
  PutLe32(hive, end + 4, static_cast<std::uint32_t>(end - kBaseBlockBytes));
  PutLe32(hive, end + 8, static_cast<std::uint32_t>(binSize));
  const std::size_t cell = end + 32;
  PutLe32(hive, cell, static_cast<std::uint32_t>(-static_cast<std::int64_t>(need)));
  if (binSize - 32 > need) PutLe32(hive, cell + need, static_cast<std::uint32_t>(binSize - 32 - need));
  PutLe32(hive, base::kBinsSize, static_cast<std::uint32_t>(end + binSize - kBaseBlockBytes));
  edited.emplace_back(end, binSize);
  return cell;
}

std::uint32_t Relative(std::size_t fileOffset) { return static_cast<std::uint32_t>(fileOffset - kBaseBlockBytes); }

struct ValueList {
  std::size_t cell = 0;  // 0: none
  std::vector<std::uint32_t> offsets;
};

Expected<ValueList> ReadValueList(const std::string& hive, std::size_t key) {
  auto keyLength = UsedCell(hive, key);
  if (!keyLength) return keyLength.error();
  if (*keyLength < kNkMaxValueData + 4 || hive.compare(key + 4, 2, "nk") != 0) return Broken("no key record");
  ValueList list;
  const std::size_t count = Le32At(hive, key + kNkValueCount);
  if (count == 0) return list;
  list.cell = FileOffset(Le32At(hive, key + kNkValueList));
  auto length = UsedCell(hive, list.cell);
  if (!length) return length.error();
  if ((*length - 4) / 4 < count) return Broken("a value list shorter than its count");
  for (std::size_t i = 0; i < count; ++i) list.offsets.push_back(Le32At(hive, list.cell + 4 + 4 * i));
  return list;
}

void WriteValueList(std::string& hive, std::size_t key, const ValueList& old, const std::vector<std::uint32_t>& offsets,
                    CellRanges& edited) {
  std::size_t cell = old.cell;
  if (offsets.empty()) {
    cell = 0;
  } else if (cell == 0 || offsets.size() > old.offsets.size()) {
    cell = Allocate(hive, 4 * offsets.size(), edited);
  }
  if (cell != 0) edited.emplace_back(cell, 4 + 4 * offsets.size());
  for (std::size_t i = 0; i < offsets.size(); ++i) PutLe32(hive, cell + 4 + 4 * i, offsets[i]);
  if (old.cell != 0 && old.cell != cell) FreeCell(hive, old.cell, edited);
  edited.emplace_back(key, kNkMaxValueData + 4);
  PutLe32(hive, key + kNkValueCount, static_cast<std::uint32_t>(offsets.size()));
  PutLe32(hive, key + kNkValueList, cell == 0 ? kNoCell : Relative(cell));
}

// Frees a value record and the cells of its data.
void FreeValue(std::string& hive, std::size_t vk, CellRanges& edited) {
  auto length = UsedCell(hive, vk);
  if (!length || *length < kVkName || hive.compare(vk + 4, 2, "vk") != 0) return;
  const std::uint32_t size = Le32At(hive, vk + kVkDataSize);
  if ((size & kInlineData) == 0 && size != 0) {
    const std::size_t data = FileOffset(Le32At(hive, vk + kVkDataOffset));
    auto dataLength = UsedCell(hive, data);
    if (dataLength && *dataLength >= 12 && hive.compare(data + 4, 2, "db") == 0 &&
        Le32At(hive, base::kMinorVersion) >= kBigDataMinorVersion && size > kBigDataSegmentBytes) {
      const std::size_t segments = Le16At(hive, data + 6);
      const std::size_t list = FileOffset(Le32At(hive, data + 8));
      auto listLength = UsedCell(hive, list);
      if (listLength && (*listLength - 4) / 4 >= segments) {
        for (std::size_t i = 0; i < segments; ++i) FreeCell(hive, FileOffset(Le32At(hive, list + 4 + 4 * i)), edited);
        FreeCell(hive, list, edited);
      }
    }
    FreeCell(hive, data, edited);
  }
  FreeCell(hive, vk, edited);
}

// The data cell (or big data record) of new data; 0 for data kept inline.
std::size_t StoreData(std::string& hive, const std::string& data, CellRanges& edited) {
  if (data.size() <= 4) return 0;
  const bool big = data.size() > kBigDataSegmentBytes && Le32At(hive, base::kMinorVersion) >= kBigDataMinorVersion;
  if (!big) {
    const std::size_t cell = Allocate(hive, data.size(), edited);
    hive.replace(cell + 4, data.size(), data);
    return cell;
  }
  const std::size_t count = (data.size() + kBigDataSegmentBytes - 1) / kBigDataSegmentBytes;
  std::vector<std::size_t> segments;
  for (std::size_t i = 0; i < count; ++i) {
    const std::size_t length = std::min(kBigDataSegmentBytes, data.size() - i * kBigDataSegmentBytes);
    // Four bytes to spare, as a full segment has them: libhivex reads a
    // segment's cell but its last four bytes.
    const std::size_t cell = Allocate(hive, length + 4, edited);
    hive.replace(cell + 4, length, data, i * kBigDataSegmentBytes, length);
    segments.push_back(cell);
  }
  const std::size_t list = Allocate(hive, 4 * count, edited);
  for (std::size_t i = 0; i < count; ++i) PutLe32(hive, list + 4 + 4 * i, Relative(segments[i]));
  const std::size_t record = Allocate(hive, 8, edited);
  hive.replace(record + 4, 2, "db");
  PutLe16(hive, record + 6, static_cast<std::uint16_t>(count));
  PutLe32(hive, record + 8, Relative(list));
  return record;
}

}  // namespace

Status RemoveValueCells(std::string& hive, std::size_t keyCell, std::size_t index, CellRanges& edited) {
  auto list = ReadValueList(hive, keyCell);
  if (!list) return list.error();
  if (index >= list->offsets.size()) return Failure("no such value", ErrorKind::NotFound);
  std::vector<std::uint32_t> kept = list->offsets;
  kept.erase(kept.begin() + static_cast<std::ptrdiff_t>(index));
  const std::size_t vk = FileOffset(list->offsets[index]);
  WriteValueList(hive, keyCell, *list, kept, edited);
  FreeValue(hive, vk, edited);
  return Ok();
}

Status StoreValueCells(std::string& hive, std::size_t keyCell, const HiveValue& value, std::size_t replace,
                       CellRanges& edited) {
  const auto name = EncodeStoredName(value.name);
  if (!name) return Failure("the value's name is no WTF-8 text", EINVAL);
  if (name->bytes.size() > 0xFFFF) return Failure("the value's name is too long for a hive", EINVAL);
  if (value.data.size() >= kInlineData) return Failure("the value's data is too large for a hive", EINVAL);
  auto list = ReadValueList(hive, keyCell);
  if (!list) return list.error();
  if (replace != std::string::npos && replace >= list->offsets.size()) return Failure("no such value", ErrorKind::NotFound);

  const std::size_t data = StoreData(hive, value.data, edited);
  const std::size_t vk = Allocate(hive, kVkName - 4 + name->bytes.size(), edited);
  hive.replace(vk + 4, 2, "vk");
  PutLe16(hive, vk + kVkNameLength, static_cast<std::uint16_t>(name->bytes.size()));
  if (data == 0) {
    PutLe32(hive, vk + kVkDataSize, kInlineData | static_cast<std::uint32_t>(value.data.size()));
    hive.replace(vk + kVkDataOffset, value.data.size(), value.data);
  } else {
    PutLe32(hive, vk + kVkDataSize, static_cast<std::uint32_t>(value.data.size()));
    PutLe32(hive, vk + kVkDataOffset, Relative(data));
  }
  PutLe32(hive, vk + kVkType, value.type);
  PutLe16(hive, vk + kVkFlags, name->compressed ? 1 : 0);
  hive.replace(vk + kVkName, name->bytes.size(), name->bytes);

  // The allocations may have moved nothing, but the list is read again from
  // the bytes as they stand now.
  list = ReadValueList(hive, keyCell);
  if (!list) return list.error();
  std::vector<std::uint32_t> offsets = list->offsets;
  std::size_t old = 0;
  if (replace == std::string::npos) {
    offsets.push_back(Relative(vk));
  } else {
    old = FileOffset(offsets[replace]);
    offsets[replace] = Relative(vk);
  }
  WriteValueList(hive, keyCell, *list, offsets, edited);
  if (old != 0) FreeValue(hive, old, edited);
  // The key's largest name (in UTF-16 bytes) and data, which readers size buffers by.
  const auto nameBytes = static_cast<std::uint32_t>(name->units * 2);
  PutLe32(hive, keyCell + kNkMaxValueName, std::max(Le32At(hive, keyCell + kNkMaxValueName), nameBytes));
  PutLe32(hive, keyCell + kNkMaxValueData,
          std::max(Le32At(hive, keyCell + kNkMaxValueData), static_cast<std::uint32_t>(value.data.size())));
  return Ok();
}

}  // namespace korbu::platform::rescue
