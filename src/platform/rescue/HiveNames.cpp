#include "platform/rescue/HiveNames.h"

#include <cstdint>
#include <vector>

namespace korbu::platform::rescue {
namespace {

void AppendCodePoint(std::string& out, std::uint32_t cp) {
  if (cp < 0x80) {
    out.push_back(static_cast<char>(cp));
  } else if (cp < 0x800) {
    out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else if (cp < 0x10000) {
    out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  } else {
    out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
    out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
  }
}

// The length of the well-formed UTF-8 sequence at i (surrogates excluded); 0 when
// none begins there.
std::size_t SequenceLength(std::string_view text, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const unsigned char lead = byte(i);
  if (lead < 0x80) return 1;
  std::size_t length = 0;
  std::uint32_t min = 0;
  std::uint32_t cp = 0;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, cp = lead & 0x1Fu;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, cp = lead & 0x0Fu;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, cp = lead & 0x07u;
  } else {
    return 0;
  }
  if (text.size() - i < length) return 0;
  for (std::size_t k = 1; k < length; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    cp = (cp << 6) | (byte(i + k) & 0x3Fu);
  }
  if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string Latin1ToUtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (char c : bytes) AppendCodePoint(out, static_cast<unsigned char>(c));
  return out;
}

std::string Utf16LeToWtf8(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  const std::size_t units = bytes.size() / 2;
  auto unit = [&](std::size_t k) {
    return static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[2 * k]) |
                                      (static_cast<unsigned char>(bytes[2 * k + 1]) << 8));
  };
  for (std::size_t k = 0; k < units; ++k) {
    const std::uint32_t u = unit(k);
    if (u >= 0xD800 && u <= 0xDBFF && k + 1 < units && unit(k + 1) >= 0xDC00 && unit(k + 1) <= 0xDFFF) {
      AppendCodePoint(out, 0x10000 + ((u - 0xD800) << 10) + (unit(k + 1) - 0xDC00));
      ++k;
    } else {
      AppendCodePoint(out, u);
    }
  }
  return out;
}

Status CheckWritableName(std::string_view name) {
  for (std::size_t i = 0; i < name.size();) {
    const std::size_t length = name[i] == '\0' ? 0 : SequenceLength(name, i);
    if (length == 0) {
      return Failure("libhivex cannot write the name \"" + std::string(name) +
                     "\" exactly (it holds a zero unit or a lone surrogate)");
    }
    i += length;
  }
  return Ok();
}

}  // namespace korbu::platform::rescue

namespace korbu::platform::rescue {

std::optional<StoredName> EncodeStoredName(std::string_view name) {
  std::vector<std::uint32_t> points;
  for (std::size_t i = 0; i < name.size();) {
    const auto lead = static_cast<unsigned char>(name[i]);
    std::size_t length = lead < 0x80 ? 1 : lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC2 ? 2 : 0;
    if (length == 0 || name.size() - i < length) return std::nullopt;
    std::uint32_t cp = length == 1 ? lead : lead & (0x7Fu >> length);
    for (std::size_t k = 1; k < length; ++k) {
      const auto next = static_cast<unsigned char>(name[i + k]);
      if ((next & 0xC0) != 0x80) return std::nullopt;
      cp = (cp << 6) | (next & 0x3Fu);
    }
    // Overlong forms are no WTF-8; a surrogate alone is.
    constexpr std::uint32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
    if (cp < kMin[length] || cp > 0x10FFFF) return std::nullopt;
    points.push_back(cp);
    i += length;
  }
  StoredName out;
  for (std::uint32_t cp : points) out.compressed = out.compressed && cp < 0x100;
  for (std::uint32_t cp : points) {
    if (out.compressed) {
      out.bytes.push_back(static_cast<char>(cp));
      ++out.units;
      continue;
    }
    auto unit = [&](std::uint32_t u) {
      out.bytes.push_back(static_cast<char>(u & 0xFF));
      out.bytes.push_back(static_cast<char>(u >> 8));
      ++out.units;
    };
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

}  // namespace korbu::platform::rescue
