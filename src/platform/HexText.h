#pragma once
// Hexadecimal digits as the registry files, the journal and the Trash write them.

#include <cstddef>
#include <cstdint>
#include <string>

namespace korbu::platform {

inline bool IsHexDigit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

/// The value of a hex digit (IsHexDigit true).
inline unsigned HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return static_cast<unsigned>(c - '0');
  if (c >= 'a' && c <= 'f') return static_cast<unsigned>(c - 'a' + 10);
  return static_cast<unsigned>(c - 'A' + 10);
}

/// Appends the byte as two digits.
inline void AppendHexByte(std::string& out, unsigned char byte, bool upper = false) {
  const char* digits = upper ? "0123456789ABCDEF" : "0123456789abcdef";
  out.push_back(digits[byte >> 4]);
  out.push_back(digits[byte & 0x0F]);
}

/// The value in lower-case digits, zero-padded to at least minDigits.
inline std::string HexNumber(std::uint64_t value, std::size_t minDigits = 1) {
  std::string digits;
  do {
    digits.insert(digits.begin(), "0123456789abcdef"[value & 0xFu]);
    value >>= 4;
  } while (value != 0);
  if (digits.size() < minDigits) digits.insert(0, minDigits - digits.size(), '0');
  return digits;
}

}  // namespace korbu::platform
