// INI entries written into any text: the writer gives one line per entry, writing
// the same entry again changes nothing, and a written entry is found again, by the
// writer and by the reader.

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
  // A key that begins with '[' could read as a section header: it is refused.
  const auto keyStart = key.find_first_not_of(" \t");
  if (keyStart != std::string_view::npos && key[keyStart] == '[') {
    Check(!written, "a key that begins with '[' is refused");
    return 0;
  }
  if (!written) return 0;
  Check(written->find(value) != std::string::npos, "the value is in the text");
  // The reader finds the entry the writer wrote, its value without surrounding blanks.
  const auto first = value.find_first_not_of(" \t");
  const std::string_view trimmed =
      first == std::string_view::npos ? std::string_view() : value.substr(first, value.find_last_not_of(" \t") - first + 1);
  const auto read = korbu::platform::IniValue(*written, section, key);
  Check(read && *read == trimmed, "the reader finds what the writer wrote");
  auto again = korbu::platform::WithIniEntry(*written, section, key, value);
  Check(again && *again == *written, "writing the same entry twice changes nothing");
  // The entry is found again: another value replaces it, and the first value
  // written once more gives the same text back.
  auto other = korbu::platform::WithIniEntry(*written, section, key, "korbu-other");
  Check(other.has_value(), "a written entry can be written again");
  auto back = korbu::platform::WithIniEntry(*other, section, key, value);
  Check(back && *back == *written, "the entry is found again");
  return 0;
}
