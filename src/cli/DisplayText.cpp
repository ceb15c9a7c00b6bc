#include "cli/DisplayText.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>

#include "cli/JsonText.h"
#include "scan/RegistryLocations.h"
#ifndef _WIN32
#include "platform/posix/WineRegistryCodec.h"
#endif

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

#ifndef _WIN32
void PutUtf8(std::string& out, char16_t unit) {
  if (unit < 0x80) {
    out += static_cast<char>(unit);
  } else if (unit < 0x800) {
    out += static_cast<char>(0xC0 | (unit >> 6));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (unit >> 12));
    out += static_cast<char>(0x80 | ((unit >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (unit & 0x3F));
  }
}
#endif

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

std::string ReadableRegistryName(std::string_view ansi) {
#ifdef _WIN32
  return ReadableFileName(ansi);
#else
  // Wine's registry, whose ANSI code page is Windows-1252.
  std::string utf8;
  for (char16_t unit : platform::posix::AnsiToUtf16(ansi)) PutUtf8(utf8, unit);
  return ReadableFileName(utf8);
#endif
}

std::string ReadableRowName(std::string_view fileName) {
  return IsRegistryPath(fileName) ? ReadableRegistryName(fileName) : ReadableFileName(fileName);
}

}  // namespace korbu::cli
