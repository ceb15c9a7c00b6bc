#include "cli/DisplayText.h"

#include <cstdio>

#include "cli/JsonText.h"
#include "scan/RegistryLocations.h"

namespace korbu::cli {
namespace {

void PutEscaped(std::string& out, unsigned char byte) {
  char escaped[5];
  std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
  out += escaped;
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

// The bytes with control bytes, and (when utf8) bytes of no well-formed UTF-8
// sequence, written as \xHH.
std::string Readable(std::string_view bytes, bool utf8) {
  std::string out;
  out.reserve(bytes.size());
  for (std::size_t i = 0; i < bytes.size();) {
    const auto byte = static_cast<unsigned char>(bytes[i]);
    const std::size_t n = utf8 ? Utf8SequenceLength(bytes, i) : 1;
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

}  // namespace

std::string ReadableFileName(std::string_view bytes) {
#ifdef _WIN32
  // Names there are text in the ANSI code page already, as the console shows it.
  return Readable(bytes, false);
#else
  return Readable(bytes, true);
#endif
}

// Registry names are UTF-8 (WTF-8 for units that are no text, whose bytes are
// then escaped) on every platform.
std::string ReadableRegistryName(std::string_view name) { return Readable(name, true); }

std::string ReadableRowName(std::string_view fileName) {
  return IsRegistryPath(fileName) ? ReadableRegistryName(fileName) : ReadableFileName(fileName);
}

}  // namespace korbu::cli
