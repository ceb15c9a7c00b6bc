#include "platform/wine/WineRegistryValue.h"
#include "platform/HexText.h"

#include <cstdlib>

#include "platform/Registry.h"
#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryCodec.h"

namespace korbu::platform::wine {
namespace {

bool IsSpace(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == '\v' || c == '\f'; }

void SkipSpaces(std::string_view text, std::size_t& pos) {
  while (pos < text.size() && IsSpace(text[pos])) ++pos;
}

// Reads a run of hex digits as a number no larger than limit.
std::optional<std::uint32_t> ReadHexNumber(std::string_view text, std::size_t& pos, std::uint64_t limit) {
  const std::size_t start = pos;
  std::uint64_t value = 0;
  while (pos < text.size() && IsHexDigit(text[pos])) {
    value = value * 16 + HexDigitValue(text[pos++]);
    if (value > limit) return std::nullopt;
  }
  if (pos == start) return std::nullopt;
  return static_cast<std::uint32_t>(value);
}

// Reads "xx,xx,..." from pos; stops before anything that is not a byte or comma.
bool ReadHexBytes(std::string_view text, std::size_t& pos, std::string& out) {
  while (pos < text.size() && IsHexDigit(text[pos])) {
    auto byte = ReadHexNumber(text, pos, 0xFF);
    if (!byte) return false;
    out.push_back(static_cast<char>(*byte));
    SkipSpaces(text, pos);
    if (pos < text.size() && text[pos] == ',') ++pos;
    SkipSpaces(text, pos);
  }
  return true;
}

enum class DataForm { String, Dword, Hex };

struct TypeTag {
  std::uint32_t type;
  DataForm form;
  std::size_t length;
};

std::optional<TypeTag> ReadTypeTag(std::string_view text) {
  struct Fixed { std::string_view tag; std::uint32_t type; DataForm form; };
  static constexpr Fixed kTags[] = {
      {"\"", kRegSz, DataForm::String},         {"str:\"", kRegSz, DataForm::String},
      {"str(2):\"", kRegExpandSz, DataForm::String}, {"str(7):\"", kRegMultiSz, DataForm::String},
      {"hex:", kRegBinary, DataForm::Hex},      {"dword:", kRegDword, DataForm::Dword},
  };
  for (const Fixed& fixed : kTags) {
    if (text.substr(0, fixed.tag.size()) == fixed.tag) return TypeTag{fixed.type, fixed.form, fixed.tag.size()};
  }
  if (text.substr(0, 4) != "hex(") return std::nullopt;
  std::size_t pos = 4;
  auto type = ReadHexNumber(text, pos, 0xFFFFFFFFu);
  if (!type || text.substr(pos, 2) != "):") return std::nullopt;
  return TypeTag{*type, DataForm::Hex, pos + 2};
}

// Wine writes string data as text only when it is a whole number of units ending
// in a zero unit; anything else goes out as hex so that no byte is lost.
bool WritableAsText(const WineValue& value) {
  if (!IsRegistryStringType(value.type)) return false;
  const std::string& d = value.data;
  return d.size() >= 2 && d.size() % 2 == 0 && d[d.size() - 1] == 0 && d[d.size() - 2] == 0;
}

}  // namespace

std::optional<ParsedValue> ParseValueEntry(const std::vector<std::string_view>& lines, std::size_t first) {
  if (first >= lines.size()) return std::nullopt;
  std::string_view text = lines[first];
  std::size_t pos = 0;
  SkipSpaces(text, pos);
  ParsedValue parsed;
  if (pos < text.size() && text[pos] == '@') {
    ++pos;
  } else if (pos < text.size() && text[pos] == '"') {
    auto used = ParseEscaped(text.substr(pos + 1), '"', parsed.value.name);
    if (!used) return std::nullopt;
    pos += 1 + *used;
  } else {
    return std::nullopt;
  }
  SkipSpaces(text, pos);
  if (pos >= text.size() || text[pos] != '=') return std::nullopt;
  ++pos;
  SkipSpaces(text, pos);
  auto tag = ReadTypeTag(text.substr(pos));
  if (!tag) return std::nullopt;
  pos += tag->length;
  parsed.value.type = tag->type;

  switch (tag->form) {
    case DataForm::String: {
      std::u16string units;
      auto used = ParseEscaped(text.substr(pos), '"', units);
      if (!used) return std::nullopt;
      units.push_back(u'\0');
      parsed.value.data = Utf16LeBytes(units);
      return parsed;
    }
    case DataForm::Dword: {
      // Read as wineserver reads it (strtoul): no digits give 0, too many the
      // largest number, and only its low 32 bits are kept.
      const std::string digits(text.substr(pos));
      const auto number = static_cast<std::uint32_t>(std::strtoul(digits.c_str(), nullptr, 16));
      for (int shift = 0; shift < 32; shift += 8)
        parsed.value.data.push_back(static_cast<char>((number >> shift) & 0xFFu));
      return parsed;
    }
    case DataForm::Hex:
      for (;;) {
        if (!ReadHexBytes(text, pos, parsed.value.data)) return std::nullopt;
        SkipSpaces(text, pos);
        if (pos == text.size()) return parsed;
        if (text[pos] != '\\') return std::nullopt;
        // A list continued on the next line.
        if (first + parsed.lineCount >= lines.size()) return std::nullopt;
        text = lines[first + parsed.lineCount];
        ++parsed.lineCount;
        pos = 0;
        SkipSpaces(text, pos);
      }
  }
  return std::nullopt;
}

std::string FormatValue(const WineValue& value, std::string_view newline) {
  std::string out;
  if (value.name.empty()) out = "@=";
  else out = "\"" + DumpEscaped(value.name, '"', '"') + "\"=";
  std::size_t count = out.size();

  if (WritableAsText(value)) {
    if (value.type != kRegSz) out += "str(" + HexNumber(value.type, 1) + "):";
    const std::u16string units = Utf16FromLeBytes(value.data);
    out += "\"" + DumpEscaped(std::u16string_view(units).substr(0, units.size() - 1), '"', '"') + "\"";
    out += newline;
    return out;
  }
  if (value.type == kRegDword && value.data.size() == 4) {
    std::uint32_t number = 0;
    for (int i = 3; i >= 0; --i)
      number = (number << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
    out += "dword:" + HexNumber(number, 8);
    out += newline;
    return out;
  }
  const std::string tag = value.type == kRegBinary ? "hex:" : "hex(" + HexNumber(value.type, 1) + "):";
  out += tag;
  count += tag.size();
  // Lines are wrapped as wineserver wraps them, after about 76 columns.
  for (std::size_t i = 0; i < value.data.size(); ++i) {
    AppendHexByte(out, static_cast<unsigned char>(value.data[i]));
    count += 2;
    if (i + 1 < value.data.size()) {
      out.push_back(',');
      if (++count > 76) {
        out += "\\";
        out += newline;
        out += "  ";
        count = 2;
      }
    }
  }
  out += newline;
  return out;
}

}  // namespace korbu::platform::wine
