#include "cli/JsonText.h"

#include <cstdint>
#include <nlohmann/json.hpp>

namespace korbu::cli {

std::size_t Utf8SequenceLength(std::string_view bytes, std::size_t i) {
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(bytes[k]); };
  const unsigned char b0 = byte(i);
  if (b0 < 0x80) return 1;
  std::size_t length;
  unsigned char lo = 0x80, hi = 0xBF;  // allowed range of the second byte
  if (b0 >= 0xC2 && b0 <= 0xDF) length = 2;
  else if (b0 == 0xE0) { length = 3; lo = 0xA0; }
  else if (b0 >= 0xE1 && b0 <= 0xEC) length = 3;
  else if (b0 == 0xED) { length = 3; hi = 0x9F; }
  else if (b0 >= 0xEE && b0 <= 0xEF) length = 3;
  else if (b0 == 0xF0) { length = 4; lo = 0x90; }
  else if (b0 >= 0xF1 && b0 <= 0xF3) length = 4;
  else if (b0 == 0xF4) { length = 4; hi = 0x8F; }
  else return 0;
  if (i + length > bytes.size()) return 0;
  if (byte(i + 1) < lo || byte(i + 1) > hi) return 0;
  for (std::size_t k = 2; k < length; ++k) {
    if (byte(i + k) < 0x80 || byte(i + k) > 0xBF) return 0;
  }
  return length;
}

bool IsValidUtf8(std::string_view bytes) {
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t n = Utf8SequenceLength(bytes, i);
    if (n == 0) return false;
    i += n;
  }
  return true;
}

std::string ToUtf8Lossy(std::string_view bytes) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    std::size_t n = Utf8SequenceLength(bytes, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

void PutText(nlohmann::json& object, const std::string& key, std::string_view bytes) {
  if (IsValidUtf8(bytes)) {
    object[key] = std::string(bytes);
  } else {
    object[key] = ToUtf8Lossy(bytes);
    object[key + "_base64"] = Base64(bytes);
  }
}

std::string Base64(std::string_view bytes) {
  static constexpr char kAlphabet[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string out;
  out.reserve((bytes.size() + 2) / 3 * 4);
  std::size_t i = 0;
  for (; i + 2 < bytes.size(); i += 3) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16 |
                      static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8 |
                      static_cast<unsigned char>(bytes[i + 2]);
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += kAlphabet[v & 63];
  }
  const std::size_t rest = bytes.size() - i;
  if (rest > 0) {
    std::uint32_t v = static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i])) << 16;
    if (rest == 2) v |= static_cast<std::uint32_t>(static_cast<unsigned char>(bytes[i + 1])) << 8;
    out += kAlphabet[v >> 18];
    out += kAlphabet[(v >> 12) & 63];
    out += rest == 2 ? kAlphabet[(v >> 6) & 63] : '=';
    out += '=';
  }
  return out;
}

}  // namespace korbu::cli
