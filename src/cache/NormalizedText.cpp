#include "cache/NormalizedText.h"

#include <array>

#include "platform/AsciiCase.h"

namespace korbu::cache {
namespace {

bool IsWhiteSpace(unsigned char byte) { return byte == ' ' || (byte >= '\t' && byte <= '\r'); }
bool IsDropped(unsigned char byte) { return byte > 0x7f || (byte < ' ' && !IsWhiteSpace(byte)); }

}  // namespace

// What becomes of each byte: 0 dropped, 1 white space, else the byte written.
struct ByteTable {
  std::array<unsigned char, 256> action{};
  ByteTable() {
    for (unsigned value = 0; value < 256; ++value) {
      const auto byte = static_cast<unsigned char>(value);
      action[value] = IsDropped(byte)      ? 0
                      : IsWhiteSpace(byte) ? 1
                                           : static_cast<unsigned char>(platform::AsciiLower(static_cast<char>(byte)));
    }
  }
};

void TextNormalizer::Feed(const unsigned char* bytes, std::size_t count, std::vector<unsigned char>& out) {
  static const ByteTable table;
  const std::size_t start = out.size();
  out.resize(start + count);  // the text is never longer than its bytes
  unsigned char* next = out.data() + start;
  bool spaceWritten = spaceWritten_;
  // Without branches: the kinds of the bytes of a file follow no pattern.
  for (std::size_t i = 0; i < count; ++i) {
    const unsigned char action = table.action[bytes[i]];
    const bool white = action == 1;
    *next = white ? static_cast<unsigned char>(' ') : action;
    next += (action > 1) | (white & !spaceWritten);
    spaceWritten = white | (spaceWritten & (action == 0));
  }
  spaceWritten_ = spaceWritten;
  out.resize(static_cast<std::size_t>(next - out.data()));
}

bool TextNormalizer::CanHold(unsigned char byte) {
  const char c = static_cast<char>(byte);
  return byte == ' ' || (!IsDropped(byte) && !IsWhiteSpace(byte) && platform::AsciiLower(c) == c);
}

std::string CollapseSpaces(std::string_view bytes) {
  std::string collapsed;
  collapsed.reserve(bytes.size());
  for (char c : bytes) {
    if (c == ' ' && !collapsed.empty() && collapsed.back() == ' ') continue;
    collapsed.push_back(c);
  }
  return collapsed;
}

}  // namespace korbu::cache
