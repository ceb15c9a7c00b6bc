// INI entries written into any text: the writer gives one line per entry, and
// writing the same entry again changes nothing.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/IniFile.h"

using korbu::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korbu::fuzz::InputSplitter input(data, size);
  std::string_view section = input.Part();
  std::string_view key = input.Part();
  std::string_view value = input.Part();
  std::string_view content = input.Rest();

  auto written = korbu::platform::WithIniEntry(content, section, key, value);
  if (!written) return 0;
  // A key that begins with '[' is written as Windows writes it, and then reads as
  // a section header, so the entry cannot be found again.
  if (key.find_first_not_of(" \t") != std::string_view::npos &&
      key[key.find_first_not_of(" \t")] == '[') {
    return 0;
  }
  Check(written->find(value) != std::string::npos, "the value is in the text");
  auto again = korbu::platform::WithIniEntry(*written, section, key, value);
  Check(again && *again == *written, "writing the same entry twice changes nothing");
  return 0;
}
