#pragma once
// Helpers shared by the fuzz targets: splitting one input into parts, a scratch
// file per process, and a check that aborts (so libFuzzer records the input).

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace korbu::fuzz {

/// Aborts with the message when the condition is false.
void Check(bool condition, const char* what);

/// Takes input apart: the first byte of what remains says how long the next part is.
class InputSplitter {
 public:
  InputSplitter(const std::uint8_t* data, std::size_t size)
      : rest_(reinterpret_cast<const char*>(data), size) {}
  /// A part of at most 255 bytes (shorter at the end of the input).
  std::string_view Part();
  /// Everything not taken yet.
  std::string_view Rest() const { return rest_; }
  /// One byte, 0 at the end.
  unsigned char Byte();

 private:
  std::string_view rest_;
};

/// Writes the bytes to this process's scratch file and returns its path.
const std::string& WriteScratchFile(std::string_view bytes);

}  // namespace korbu::fuzz
