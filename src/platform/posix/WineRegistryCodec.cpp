#include "platform/posix/WineRegistryCodec.h"
#include "platform/HexText.h"

#include <array>
#include <cstdint>

namespace korbu::platform::posix {
namespace {

// Windows-1252 bytes 0x80-0x9F; the undefined ones keep their own number.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
    0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x008D, 0x017D, 0x008F,
    0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
    0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178};

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

// Reads one UTF-8 sequence at source[pos]; the code point and its length, or
// empty when the bytes there are not a valid, shortest-form sequence.
std::optional<std::pair<char32_t, std::size_t>> ReadUtf8(std::string_view source, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(source[pos]);
  std::size_t length = 0;
  char32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) { length = 2; cp = lead & 0x1Fu; }
  else if (lead >= 0xE0 && lead <= 0xEF) { length = 3; cp = lead & 0x0Fu; }
  else if (lead >= 0xF0 && lead <= 0xF4) { length = 4; cp = lead & 0x07u; }
  else return std::nullopt;
  if (pos + length > source.size()) return std::nullopt;
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(source[pos + i]);
    if ((next & 0xC0u) != 0x80u) return std::nullopt;
    cp = (cp << 6) | (next & 0x3Fu);
  }
  if ((length == 3 && cp < 0x800) || (length == 4 && cp < 0x10000) || cp > 0x10FFFF ||
      (cp >= 0xD800 && cp <= 0xDFFF))
    return std::nullopt;
  return std::make_pair(cp, length);
}

void AppendCodePoint(std::u16string& out, char32_t cp) {
  if (cp < 0x10000) {
    out.push_back(static_cast<char16_t>(cp));
  } else {
    cp -= 0x10000;
    out.push_back(static_cast<char16_t>(0xD800 + (cp >> 10)));
    out.push_back(static_cast<char16_t>(0xDC00 + (cp & 0x3FF)));
  }
}

}  // namespace

std::u16string AnsiToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (char ch : text) {
    const auto byte = static_cast<unsigned char>(ch);
    out.push_back(byte >= 0x80 && byte <= 0x9F ? kCp1252High[byte - 0x80u] : static_cast<char16_t>(byte));
  }
  return out;
}

std::string Utf16ToAnsi(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char16_t unit : text) {
    if (unit < 0x80 || (unit >= 0xA0 && unit <= 0xFF)) {
      out.push_back(static_cast<char>(unit));
      continue;
    }
    char mapped = '?';
    for (std::size_t i = 0; i < kCp1252High.size(); ++i) {
      if (kCp1252High[i] == unit) {
        mapped = static_cast<char>(0x80 + i);
        break;
      }
    }
    out.push_back(mapped);
  }
  return out;
}

std::string Utf16ToBytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size() * 2);
  for (char16_t unit : text) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

std::u16string BytesToUtf16(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(low | (high << 8)));
  }
  return out;
}

std::strong_ordering CompareNames(std::u16string_view a, std::u16string_view b) {
  const std::size_t common = a.size() < b.size() ? a.size() : b.size();
  for (std::size_t i = 0; i < common; ++i) {
    const char16_t x = UpperUnit(a[i]);
    const char16_t y = UpperUnit(b[i]);
    if (x != y) return x <=> y;
  }
  return a.size() <=> b.size();
}

std::optional<std::size_t> ParseEscaped(std::string_view source, char endChar, std::u16string& out) {
  out.clear();
  std::size_t pos = 0;
  while (pos < source.size() && source[pos] != endChar) {
    const char ch = source[pos];
    if (ch != '\\') {
      if (static_cast<unsigned char>(ch) < 0x80) {
        out.push_back(static_cast<char16_t>(ch));
        ++pos;
      } else if (auto utf8 = ReadUtf8(source, pos)) {
        AppendCodePoint(out, utf8->first);
        pos += utf8->second;
      } else {
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(ch)));
        ++pos;
      }
      continue;
    }
    if (++pos >= source.size()) return std::nullopt;  // a lone backslash at the end
    const char code = source[pos++];
    switch (code) {
      case 'a': out.push_back(u'\a'); break;
      case 'b': out.push_back(u'\b'); break;
      case 'e': out.push_back(char16_t{0x1B}); break;
      case 'f': out.push_back(u'\f'); break;
      case 'n': out.push_back(u'\n'); break;
      case 'r': out.push_back(u'\r'); break;
      case 't': out.push_back(u'\t'); break;
      case 'v': out.push_back(u'\v'); break;
      case 'x': {
        if (pos >= source.size() || !IsHexDigit(source[pos])) {
          out.push_back(u'x');
          break;
        }
        unsigned value = 0;
        for (int digits = 0; digits < 4 && pos < source.size() && IsHexDigit(source[pos]); ++digits)
          value = value * 16 + HexDigitValue(source[pos++]);
        out.push_back(static_cast<char16_t>(value));
        break;
      }
      case '0': case '1': case '2': case '3': case '4': case '5': case '6': case '7': {
        unsigned value = static_cast<unsigned>(code - '0');
        for (int digits = 1; digits < 3 && pos < source.size() && source[pos] >= '0' && source[pos] <= '7'; ++digits)
          value = value * 8 + static_cast<unsigned>(source[pos++] - '0');
        out.push_back(static_cast<char16_t>(value));
        break;
      }
      default:
        // Any other escaped character stands for itself; a raw byte above 0x7F is
        // taken by value, as Wine does.
        out.push_back(static_cast<char16_t>(static_cast<unsigned char>(code)));
        break;
    }
  }
  if (pos >= source.size()) return std::nullopt;
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

}  // namespace korbu::platform::posix
