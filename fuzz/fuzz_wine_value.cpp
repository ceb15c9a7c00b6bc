// The escaped strings and value entries of Wine's registry files: any line is read
// without harm, and what the writer writes reads back as the same value.

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "platform/Utf16Text.h"
#include "platform/wine/WineRegistryCodec.h"
#include "platform/wine/WineRegistryValue.h"

using namespace korbu::platform::wine;
using korbu::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);

  std::u16string decoded;
  (void)ParseEscaped(input, '"', decoded);

  // Arbitrary units written escaped come back whole, zero units included.
  std::u16string units = korbu::platform::Utf16FromLeBytes(input);
  std::string dumped = DumpEscaped(units, '"', '"') + '"';
  std::u16string reread;
  auto consumed = ParseEscaped(dumped, '"', reread);
  Check(consumed && *consumed == dumped.size(), "escaped text reads to its end");
  Check(reread == units, "escaped text reads back");

  std::vector<std::string_view> lines;
  std::size_t start = 0;
  while (start <= input.size()) {
    auto end = input.find('\n', start);
    lines.push_back(input.substr(start, end == std::string_view::npos ? end : end - start));
    if (end == std::string_view::npos) break;
    start = end + 1;
  }
  auto parsed = ParseValueEntry(lines, 0);
  if (parsed) {
    Check(parsed->lineCount >= 1 && parsed->lineCount <= lines.size(), "entry stays in the lines");
    std::string written = FormatValue(parsed->value, "\n");
    std::vector<std::string_view> writtenLines;
    std::string_view view(written);
    std::size_t from = 0;
    while (from < view.size()) {
      auto end = view.find('\n', from);
      writtenLines.push_back(view.substr(from, end == std::string_view::npos ? end : end - from));
      if (end == std::string_view::npos) break;
      from = end + 1;
    }
    auto again = ParseValueEntry(writtenLines, 0);
    Check(again.has_value(), "a written entry reads back");
    Check(again->value.name == parsed->value.name && again->value.type == parsed->value.type &&
              again->value.data == parsed->value.data,
          "a written entry keeps its name, type and data");
  }
  return 0;
}
