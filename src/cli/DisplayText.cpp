#include "cli/DisplayText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cli/JsonText.h"
#include "scan/RegistryLocations.h"

namespace korbu::cli {
namespace {

void PutEscaped(std::string& out, std::string_view bytes) {
  for (char c : bytes) {
    char escaped[5];
    std::snprintf(escaped, sizeof escaped, "\\x%02X", static_cast<unsigned char>(c));
    out += escaped;
  }
}

std::uint32_t CodePoint(std::string_view sequence) {
  const auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(sequence[k])); };
  switch (sequence.size()) {
    case 1: return byte(0);
    case 2: return (byte(0) & 0x1F) << 6 | (byte(1) & 0x3F);
    case 3: return (byte(0) & 0x0F) << 12 | (byte(1) & 0x3F) << 6 | (byte(2) & 0x3F);
    default: return (byte(0) & 0x07) << 18 | (byte(1) & 0x3F) << 12 | (byte(2) & 0x3F) << 6 | (byte(3) & 0x3F);
  }
}

// Characters that break a line, move the cursor or reorder what follows them.
bool Shown(std::uint32_t c) {
  if (c < 0x20 || (c >= 0x7F && c <= 0x9F)) return false;  // C0, DEL, C1
  if (c == 0x2028 || c == 0x2029) return false;             // line and paragraph separators
  if (c == 0x061C || c == 0x200E || c == 0x200F) return false;
  if ((c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069)) return false;
  return true;
}

bool IsEscapeDigit(char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); }

// "xHH", as an escape prints after its backslash.
bool LooksLikeEscape(std::string_view text) {
  return text.size() >= 3 && text[0] == 'x' && IsEscapeDigit(text[1]) && IsEscapeDigit(text[2]);
}

// True when the character at bytes[i] is written as escapes.
bool Escaped(std::string_view bytes, std::size_t i) {
  const std::size_t n = Utf8SequenceLength(bytes, i);
  return n == 0 || !Shown(CodePoint(bytes.substr(i, n)));
}


}  // namespace

std::string ReadableFileName(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const std::size_t n = std::max<std::size_t>(Utf8SequenceLength(bytes, i), 1);
    const std::string_view sequence = bytes.substr(i, n);
    if (Escaped(bytes, i)) {
      PutEscaped(out, sequence);
    } else if (sequence == "\\") {
      // Doubled when what is printed next would make it read as an escape.
      const std::size_t next = i + 1;
      const bool ambiguous = next < bytes.size() && (bytes[next] == '\\' || Escaped(bytes, next) ||
                                                     LooksLikeEscape(bytes.substr(next)));
      out += ambiguous ? "\\\\" : "\\";
    } else {
      out.append(sequence);
    }
    i += n;
  }
  return out;
}

// Registry names are UTF-8 on every platform (WTF-8 for units that are no
// text, whose bytes are then escaped).
std::string ReadableRegistryName(std::string_view name) { return ReadableFileName(name); }

std::string ReadableRowName(std::string_view fileName) {
  return IsRegistryPath(fileName) ? ReadableRegistryName(fileName) : ReadableFileName(fileName);
}

}  // namespace korbu::cli
