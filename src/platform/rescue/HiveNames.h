#pragma once
// Names as a hive stores them (Latin-1 or UTF-16LE) and as the program carries
// them (WTF-8), and what libhivex can write back.

#include <optional>
#include <string>
#include <string_view>

#include "platform/Expected.h"

namespace korbu::platform::rescue {

/// A name stored compressed (one byte a character, Latin-1) as UTF-8.
std::string Latin1ToUtf8(std::string_view bytes);

/// A name stored as UTF-16LE units as WTF-8: a lone surrogate keeps its three
/// bytes, so every unit sequence comes back whole. An odd last byte is dropped.
std::string Utf16LeToWtf8(std::string_view bytes);

/// Whether libhivex writes the name exactly: it takes a zero-terminated UTF-8
/// text, so a zero byte or a lone surrogate cannot go through it.
Status CheckWritableName(std::string_view name);

}  // namespace korbu::platform::rescue

namespace korbu::platform::rescue {

/// A WTF-8 name as a hive stores it: one byte a character (compressed) when
/// every character is below 256, else UTF-16LE units; a lone surrogate and a
/// zero unit go through. Empty when the text is no WTF-8.
struct StoredName {
  std::string bytes;
  bool compressed = true;
  std::size_t units = 0;  // UTF-16 units
};
std::optional<StoredName> EncodeStoredName(std::string_view name);

}  // namespace korbu::platform::rescue
