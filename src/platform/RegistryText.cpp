#include "platform/Registry.h"
#include "platform/Utf16Text.h"

namespace korbu::platform {

std::string RegistryText(std::string_view data) {
  std::u16string units = Utf16FromLeBytes(data);
  if (const std::size_t end = units.find(u'\0'); end != std::u16string::npos) units.resize(end);
  return Utf16ToWtf8(units);
}

std::string RegistryStringData(std::string_view text) {
  std::u16string units = Wtf8ToUtf16(text);
  units.push_back(u'\0');
  return Utf16LeBytes(units);
}

}  // namespace korbu::platform
