#pragma once
// One value entry of a Wine registry file: reading it from its line(s) and
// writing it the way wineserver does.
//
// Entry forms: a name ("..." escaped, or @ for the default value), "=", then
//   "..."            REG_SZ            (also str:"...")
//   str(2):"..."     REG_EXPAND_SZ
//   str(7):"..."     REG_MULTI_SZ
//   dword:XXXXXXXX   REG_DWORD
//   hex:xx,xx,...    REG_BINARY
//   hex(N):xx,...    any type N (hex); a list may go on over lines ending in "\".
// String data is held as Wine holds it: UTF-16LE bytes with the terminating zero.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace korbu::platform::wine {

/// A value as Wine holds it.
struct WineValue {
  std::u16string name;    // empty for the default value
  std::uint32_t type = 0;
  std::string data;       // data bytes; string types as UTF-16LE units
};

/// A value entry read from a file, with the number of lines it spans.
struct ParsedValue {
  WineValue value;
  std::size_t lineCount = 1;
};

/// Reads the entry that starts on lines[first] (lines without their line ends).
/// Empty when the entry is malformed; nothing is ever read past the last line.
std::optional<ParsedValue> ParseValueEntry(const std::vector<std::string_view>& lines,
                                           std::size_t first);

/// The text of an entry as wineserver writes it, each line ended by newline.
std::string FormatValue(const WineValue& value, std::string_view newline);

}  // namespace korbu::platform::wine
