#include "platform/Utf16Text.h"

namespace korbu::platform {
namespace {

constexpr char16_t kReplacement = 0xFFFD;

bool IsHighSurrogate(char32_t c) { return c >= 0xD800 && c < 0xDC00; }
bool IsLowSurrogate(char32_t c) { return c >= 0xDC00 && c < 0xE000; }

void AppendUtf8(std::string& out, char32_t c) {
  if (c < 0x80) {
    out += static_cast<char>(c);
  } else if (c < 0x800) {
    out += static_cast<char>(0xC0 | (c >> 6));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else if (c < 0x10000) {
    out += static_cast<char>(0xE0 | (c >> 12));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  } else {
    out += static_cast<char>(0xF0 | (c >> 18));
    out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
    out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (c & 0x3F));
  }
}

// One sequence at text[pos]: its code point (a surrogate allowed) and length;
// length 0 when the bytes there form none.
std::pair<char32_t, std::size_t> ReadSequence(std::string_view text, std::size_t pos) {
  const auto lead = static_cast<unsigned char>(text[pos]);
  std::size_t length = 0;
  char32_t c = 0;
  if (lead < 0x80) return {lead, 1};
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    c = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    c = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    c = lead & 0x07u;
  } else {
    return {0, 0};
  }
  if (pos + length > text.size()) return {0, 0};
  for (std::size_t i = 1; i < length; ++i) {
    const auto next = static_cast<unsigned char>(text[pos + i]);
    if ((next & 0xC0u) != 0x80u) return {0, 0};
    c = (c << 6) | (next & 0x3Fu);
  }
  const bool shortest = (length == 2) || (length == 3 && c >= 0x800) || (length == 4 && c >= 0x10000);
  if (!shortest || c > 0x10FFFF) return {0, 0};
  return {c, length};
}

}  // namespace

std::string Utf16ToWtf8(std::u16string_view units) {
  std::string out;
  out.reserve(units.size());
  for (std::size_t i = 0; i < units.size(); ++i) {
    char32_t c = units[i];
    if (IsHighSurrogate(c) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
      c = 0x10000 + ((c - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
      ++i;
    }
    AppendUtf8(out, c);
  }
  return out;
}

std::u16string Wtf8ToUtf16(std::string_view text) {
  std::u16string out;
  out.reserve(text.size());
  for (std::size_t pos = 0; pos < text.size();) {
    const auto [c, length] = ReadSequence(text, pos);
    if (length == 0) {
      out.push_back(kReplacement);
      ++pos;
      continue;
    }
    pos += length;
    if (c < 0x10000) {
      out.push_back(static_cast<char16_t>(c));
    } else {
      out.push_back(static_cast<char16_t>(0xD800 + ((c - 0x10000) >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + ((c - 0x10000) & 0x3FF)));
    }
  }
  return out;
}

std::string Utf16LeBytes(std::u16string_view units) {
  std::string out;
  out.reserve(units.size() * 2);
  for (char16_t unit : units) {
    out.push_back(static_cast<char>(unit & 0xFF));
    out.push_back(static_cast<char>(unit >> 8));
  }
  return out;
}

std::u16string Utf16FromLeBytes(std::string_view bytes) {
  std::u16string out;
  out.reserve(bytes.size() / 2);
  for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
    const auto low = static_cast<unsigned char>(bytes[i]);
    const auto high = static_cast<unsigned char>(bytes[i + 1]);
    out.push_back(static_cast<char16_t>(low | (high << 8)));
  }
  return out;
}

}  // namespace korbu::platform
