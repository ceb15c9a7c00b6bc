#include "platform/Wildcard.h"

#include "platform/AsciiCase.h"

namespace korbu::platform {
namespace {

// Greedy match with one remembered star: each star retry advances the text by one,
// so the work is bounded by length(name) * length(mask) in the worst case.
bool Match(std::string_view name, std::string_view mask) {
  std::size_t n = 0, m = 0;
  std::size_t starMask = std::string_view::npos, starName = 0;
  while (n < name.size()) {
    if (m < mask.size() && mask[m] == '*') {
      starMask = m++;
      starName = n;
    } else if (m < mask.size() && (mask[m] == '?' || AsciiLower(mask[m]) == AsciiLower(name[n]))) {
      ++m;
      ++n;
    } else if (starMask != std::string_view::npos) {
      m = starMask + 1;
      n = ++starName;
    } else {
      return false;
    }
  }
  while (m < mask.size() && mask[m] == '*') ++m;
  return m == mask.size();
}

}  // namespace

bool MatchesWildcard(std::string_view name, std::string_view mask) {
  if (mask == "*.*" || mask == "*") return true;
  if (Match(name, mask)) return true;
  // "name.*" also stands for "name" without any extension.
  if (mask.size() >= 2 && mask.substr(mask.size() - 2) == ".*" &&
      name.find('.') == std::string_view::npos) {
    return Match(name, mask.substr(0, mask.size() - 2));
  }
  return false;
}

}  // namespace korbu::platform
