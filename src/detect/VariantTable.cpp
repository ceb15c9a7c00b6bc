#include "detect/VariantTable.h"

namespace korbu {
namespace {

// The names skip numbers: there is no "Brontok-2".
constexpr std::array<std::string_view, kVariantCount> kVariantNames = {
    "Brontok-1",   "Brontok-3",   "Brontok-4",   "Brontok-5",   "Brontok-10",  "Brontok-12",
    "Brontok-12B", "Brontok-14",  "Brontok-15",  "Brontok-16A", "Brontok-16B", "Brontok-16C",
    "Brontok-17A", "Brontok-17B", "Brontok-17C", "Brontok-18R",
};

}  // namespace

bool FindVariantByCrc(std::uint32_t crc, int& index) {
  for (int i = 0; i < kVariantCount; ++i) {
    if (VariantCrcTable[static_cast<std::size_t>(i)] == crc) {
      index = i + 1;
      return true;
    }
  }
  return false;
}

std::string_view VariantName(int index) {
  if (index < 1 || index > kVariantCount) return {};
  return kVariantNames[static_cast<std::size_t>(index - 1)];
}

}  // namespace korbu
