#pragma once
// UTF-16 code units and the program's UTF-8 strings. Windows names (registry
// keys and values, files) are sequences of 16-bit units that need not be valid
// UTF-16: a worm may write a lone surrogate or a zero unit into a value name.
// Such units travel in the program's strings as WTF-8: UTF-8 wherever the units
// are well formed, and a lone surrogate as the three bytes UTF-8 would give its
// code point. So every unit sequence comes back whole, and valid UTF-16 is plain
// UTF-8. The same form serves the POSIX backend (Wine) and the Windows one.

#include <string>
#include <string_view>

namespace korbu::platform {

/// The units as WTF-8 (see above). Zero units are kept as zero bytes.
std::string Utf16ToWtf8(std::u16string_view units);

/// WTF-8 (and so UTF-8) back to units. A byte that begins no well-formed
/// sequence becomes U+FFFD, as Windows' own conversion does.
std::u16string Wtf8ToUtf16(std::string_view text);

/// The units as little-endian bytes, the form of string data in the registry.
std::string Utf16LeBytes(std::u16string_view units);

/// Little-endian byte pairs as units; an odd last byte is left out.
std::u16string Utf16FromLeBytes(std::string_view bytes);

}  // namespace korbu::platform
