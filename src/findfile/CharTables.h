#pragma once
// Byte tables of the locale's character rules, built once on first use.

#include <array>

namespace korbu {

using TCharTable = std::array<unsigned char, 256>;

/// Every byte to itself.
const TCharTable& IdentityTable();
/// Every byte to its lower-case form by the locale's rules.
const TCharTable& LowerCaseTable();
/// True for letters and digits by the locale's rules.
bool IsAlphaNumeric(unsigned char c);

}  // namespace korbu
