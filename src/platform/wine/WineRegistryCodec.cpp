#include "platform/wine/WineRegistryCodec.h"
#include "platform/HexText.h"

#include <array>
#include <cstdint>

namespace korbu::platform::wine {
namespace {

char16_t UpperUnit(char16_t c) {
  if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 0x20);
  if (c < 0xE0) return c;
  if (c <= 0xFE) return c == 0xF7 ? c : static_cast<char16_t>(c - 0x20);
  switch (c) {
    case 0x00FF: return 0x0178;
    case 0x0153: return 0x0152;
    case 0x0161: return 0x0160;
    case 0x017E: return 0x017D;
    case 0x0192: return 0x0191;
    default: return c;
  }
}

// Wine's reading of a raw byte above 0x7F: the number of continuation bytes its
// sequence takes (0: no sequence), the bits the lead byte keeps, and the least
// code point each length may encode.
int Utf8Continuations(unsigned char lead) {
  if (lead >= 0xC2 && lead <= 0xDF) return 1;
  if (lead >= 0xE0 && lead <= 0xEF) return 2;
  if (lead >= 0xF0 && lead <= 0xF4) return 3;
  return 0;
}
constexpr std::array<unsigned, 4> kLeadMask = {0x7F, 0x1F, 0x0F, 0x07};
constexpr std::array<char32_t, 4> kLeast = {0x0, 0x80, 0x800, 0x10000};

char At(std::string_view text, std::size_t pos) { return pos < text.size() ? text[pos] : '\0'; }

// One raw character at source[pos] (pos advanced past what Wine consumes).
void ReadRawCharacter(std::string_view source, std::size_t& pos, std::u16string& out) {
  const auto lead = static_cast<unsigned char>(source[pos++]);
  if (lead < 0x80) {
    out.push_back(lead);
    return;
  }
  const int continuations = Utf8Continuations(lead);
  if (continuations == 0) return;  // Wine ignores the byte
  char32_t c = lead & kLeadMask[static_cast<std::size_t>(continuations)];
  for (int i = 0; i < continuations; ++i) {
    const unsigned next = static_cast<unsigned char>(At(source, pos)) ^ 0x80u;
    if (next >= 0x40) return;  // ignored; the byte that broke it is read anew
    c = (c << 6) | next;
    ++pos;
  }
  if (c < kLeast[static_cast<std::size_t>(continuations)] || c > 0x10FFFF) return;
  if (c <= 0xFFFF) {
    out.push_back(static_cast<char16_t>(c));  // a surrogate's three bytes included, as in Wine
  } else {
    c -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 | (c >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 | (c & 0x3FF)));
  }
}

}  // namespace

std::strong_ordering CompareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = UpperUnit(a[i]);
    const char16_t y = UpperUnit(b[i]);
    if (x != y) return x <=> y;
  }
  return a.size() <=> b.size();
}

std::u16string FoldedName(std::u16string_view name) {
  std::u16string out(name);
  for (char16_t& unit : out) unit = UpperUnit(unit);
  return out;
}

std::optional<std::size_t> ParseEscaped(std::string_view source, char endChar, std::u16string& out) {
  out.clear();
  std::size_t pos = 0;
  while (At(source, pos) != '\0' && source[pos] != endChar) {
    if (source[pos] == '\\') {
      ++pos;
      const char code = At(source, pos);
      if (code == '\0') break;
      char16_t simple = 0;
      switch (code) {
        case 'a': simple = u'\a'; break;
        case 'b': simple = u'\b'; break;
        case 'e': simple = 0x1B; break;
        case 'f': simple = u'\f'; break;
        case 'n': simple = u'\n'; break;
        case 'r': simple = u'\r'; break;
        case 't': simple = u'\t'; break;
        case 'v': simple = u'\v'; break;
        default: break;
      }
      if (simple != 0) {
        out.push_back(simple);
        ++pos;
        continue;
      }
      if (code == 'x') {
        ++pos;
        unsigned value = 'x';
        if (IsHexDigit(At(source, pos))) {
          value = 0;
          for (int digits = 0; digits < 4 && IsHexDigit(At(source, pos)); ++digits)
            value = value * 16 + HexDigitValue(source[pos++]);
        }
        out.push_back(static_cast<char16_t>(value));
        continue;
      }
      if (code >= '0' && code <= '7') {
        unsigned value = static_cast<unsigned>(code - '0');
        ++pos;
        for (int digits = 1; digits < 3 && At(source, pos) >= '0' && At(source, pos) <= '7'; ++digits)
          value = value * 8 + static_cast<unsigned>(source[pos++] - '0');
        out.push_back(static_cast<char16_t>(value));
        continue;
      }
      // Any other escaped character is read as a character of its own.
    }
    ReadRawCharacter(source, pos, out);
  }
  if (At(source, pos) == '\0') return std::nullopt;  // no endChar
  return pos + 1;
}

std::string DumpEscaped(std::u16string_view text, char escape1, char escape2) {
  static constexpr std::string_view kCEscapes = ".......abtnvfr.............e....";
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char16_t unit = text[i];
    const bool hasNext = i + 1 < text.size();
    const char16_t next = hasNext ? text[i + 1] : char16_t{0};
    if (unit > 0x7F) {
      // A following hex digit would be read as part of a short escape.
      const bool pad = hasNext && next < 0x80 && IsHexDigit(static_cast<char>(next));
      out += "\\x";
      out += HexNumber(unit, pad ? 4 : 1);
      continue;
    }
    if (unit < 0x20) {
      out.push_back('\\');
      if (kCEscapes[unit] != '.') {
        out.push_back(kCEscapes[unit]);
      } else {
        const bool pad = hasNext && next >= u'0' && next <= u'7';
        const unsigned value = unit;
        if (pad) out.push_back(static_cast<char>('0' + (value >> 6)));
        if (pad || value >= 8) out.push_back(static_cast<char>('0' + ((value >> 3) & 7u)));
        out.push_back(static_cast<char>('0' + (value & 7u)));
      }
      continue;
    }
    const char ch = static_cast<char>(unit);
    if (ch == '\\' || ch == escape1 || ch == escape2) out.push_back('\\');
    out.push_back(ch);
  }
  return out;
}

}  // namespace korbu::platform::wine
