#include "bridge/VirusName.h"

#include <cstring>

namespace korbu::bridge {

void CopyVirusName(const char* name, char* buffer) {
  if (buffer == nullptr) return;
  std::size_t length = name == nullptr ? 0 : ::strnlen(name, kNameBufferSize - 1);
  if (length > 0) std::memcpy(buffer, name, length);
  buffer[length] = '\0';
}

}  // namespace korbu::bridge
