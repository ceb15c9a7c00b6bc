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
#ifdef _WIN32
    // Names there are text in the ANSI code page already, as the console shows it.
    const std::size_t n = 1;
#else
    const std::size_t n = Utf8SequenceLength(bytes, i);
#endif
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
  std::string out;
#ifdef _WIN32
  for (char c : ansi) {
    if (IsControl(static_cast<unsigned char>(c))) PutEscaped(out, static_cast<unsigned char>(c));
    else out += c;
  }
#else
  // Wine's registry, whose ANSI code page is Windows-1252.
  for (char16_t unit : platform::posix::AnsiToUtf16(ansi)) {
    if (unit < 0x80 && IsControl(static_cast<unsigned char>(unit))) PutEscaped(out, static_cast<unsigned char>(unit));
    else PutUtf8(out, unit);
  }
#endif
  return out;
}

std::string ReadableRowName(std::string_view fileName) {
  return IsRegistryPath(fileName) ? ReadableRegistryName(fileName) : ReadableFileName(fileName);
}

}  // namespace korbu::cli
