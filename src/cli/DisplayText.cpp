#include "cli/DisplayText.h"

#include <cstdio>

#include "cli/JsonText.h"
#include "scan/RegistryLocations.h"
#ifndef _WIN32
#include "platform/posix/WineRegistryCodec.h"
#endif

namespace korbu::cli {
namespace {

void PutEscaped(std::string& out, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  out += escaped;
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

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
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::size_t n = Utf8SequenceLength(bytes, i);
    if (n == 0 || IsControl(byte)) {
      PutEscaped(out, byte);
      ++i;
    } else {
      out.append(bytes.substr(i, n));
      i += n;
    }
  }
  return out;
}

std::string ReadableRegistryName(std::string_view ansi) {
#ifdef _WIN32
  // The Windows backend's texts are UTF-8, names as well.
  return ReadableFileName(ansi);
#else
  std::string out;
  // Wine's registry, whose ANSI code page is Windows-1252.
  for (char16_t unit : platform::posix::AnsiToUtf16(ansi)) {
    if (unit < 0x80 && IsControl(static_cast<unsigned char>(unit))) PutEscaped(out, static_cast<unsigned char>(unit));
    else PutUtf8(out, unit);
  }
  return out;
#endif
}

std::string ReadableRowName(std::string_view fileName) {
  return IsRegistryPath(fileName) ? ReadableRegistryName(fileName) : ReadableFileName(fileName);
}

}  // namespace korbu::cli
