#pragma once
// Copying libclamav's virus name into a caller's fixed-size name buffer.

#include <cstddef>

namespace korbu::bridge {

inline constexpr std::size_t kNameBufferSize = 512;

/// Writes the name into a buffer of kNameBufferSize bytes: at most 511 bytes of
/// it and a terminating zero, so a longer name is cut, never written past the
/// buffer. A null name gives an empty text; a null buffer is left alone.
void CopyVirusName(const char* name, char* buffer);

}  // namespace korbu::bridge
