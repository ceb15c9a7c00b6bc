// The byte-exact mask matcher and the Windows file-name wildcard matcher.

#include <cstdint>
#include <string>

#include "FuzzSupport.h"
#include "platform/Wildcard.h"
#include "services/TextUtils.h"

using korbu::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korbu::fuzz::InputSplitter input(data, size);
  std::string_view mask = input.Part();
  std::string_view text = input.Rest();

  bool exact = korbu::MatchesMask(text, mask);
  bool windows = korbu::platform::MatchesWildcard(text, mask);
  Check(korbu::MatchesMask(text, "*"), "\"*\" matches every text");
  Check(korbu::platform::MatchesWildcard(text, "*"), "\"*\" matches every name");
  if (text.find_first_of("*?") == std::string_view::npos) {
    Check(korbu::MatchesMask(text, text), "a text matches itself");
    Check(korbu::platform::MatchesWildcard(text, text), "a name matches itself");
  }
  // A star in front only widens the match.
  if (exact && !text.empty()) Check(korbu::MatchesMask(text, std::string("*") + std::string(mask)), "star widens");
  (void)windows;
  return 0;
}
