// Pattern searches over a buffer and over a file, checked against a plain search.

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "services/FileUtils.h"
#include "services/Searches.h"

using korbu::fuzz::Check;

namespace {

bool SameIgnoringCase(std::string_view a, std::string_view b, bool caseSensitive) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto x = static_cast<unsigned char>(a[i]);
    auto y = static_cast<unsigned char>(b[i]);
    if (!caseSensitive) {
      if (x >= 'A' && x <= 'Z') x = static_cast<unsigned char>(x + 32);
      if (y >= 'A' && y <= 'Z') y = static_cast<unsigned char>(y + 32);
    }
    if (x != y) return false;
  }
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korbu::fuzz::InputSplitter input(data, size);
  const unsigned char flags = input.Byte();
  std::string_view pattern = input.Part();
  std::string buffer(input.Rest());

  korbu::TBaseSearch search;
  search.SetPattern(pattern);
  search.SetCaseSensitive((flags & 1) != 0);
  search.SetBuffer(buffer.data(), buffer.size());
  std::int64_t previousEnd = 0;
  std::size_t matches = 0;
  for (std::int32_t at = search.SearchFirst(); at >= 0; at = search.SearchNext()) {
    auto offset = static_cast<std::size_t>(at);
    Check(!pattern.empty() && offset + pattern.size() <= buffer.size(), "match inside the buffer");
    Check(static_cast<std::int64_t>(offset) >= previousEnd, "matches do not overlap");
    Check(SameIgnoringCase(std::string_view(buffer).substr(offset, pattern.size()), pattern,
                           search.CaseSensitive()),
          "a match holds the pattern");
    previousEnd = static_cast<std::int64_t>(offset + pattern.size());
    Check(++matches <= buffer.size(), "the search ends");
  }

  // A file larger than one read block, so matches across block ends are looked for.
  std::string file = buffer;
  if ((flags & 2) != 0 && !file.empty()) {
    while (file.size() < 70000) file += buffer;
  }
  std::int64_t found = korbu::FindTextInFile(korbu::fuzz::WriteScratchFile(file), pattern);
  std::int64_t expected = -1;
  if (!pattern.empty() && pattern.find('\0') == std::string_view::npos) {
    auto at = file.find(pattern);
    if (at != std::string::npos) expected = static_cast<std::int64_t>(at);
  }
  Check(found == expected, "FindTextInFile finds the first occurrence");
  Check(korbu::FindInFile(pattern, korbu::fuzz::WriteScratchFile(file)) ==
            (pattern.empty() || file.find(pattern) == std::string::npos
                 ? -1
                 : static_cast<std::int32_t>(file.find(pattern))),
        "FindInFile finds the first occurrence");
  return 0;
}
