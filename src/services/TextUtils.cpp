#include "services/TextUtils.h"

#include <algorithm>

namespace korbu {

bool MatchesMask(std::string_view text, std::string_view mask) {
  const std::size_t n = text.size();
  const std::size_t m = mask.size();
  // The rules, as steps from (text position, mask position):
  //  - the remaining mask is exactly "*": match;
  //  - the text is used up: match only if the mask is too;
  //  - '*': either it takes nothing (next mask byte) or one more text byte;
  //  - '?' or an equal byte: both advance.
  // Instead of recursing (exponential on many stars) we carry the set of text
  // positions reachable at each mask position, one mask byte at a time.
  std::vector<unsigned char> reach(n + 1, 0);
  std::vector<unsigned char> next(n + 1, 0);
  reach[0] = 1;
  for (std::size_t j = 0; j < m; ++j) {
    bool any = false;
    for (std::size_t i = 0; i <= n && !any; ++i) any = reach[i] != 0;
    if (!any) return false;
    if (j + 1 == m && mask[j] == '*') return true;  // remaining mask is exactly "*"

    std::fill(next.begin(), next.end(), 0);
    if (mask[j] == '*') {
      // From the first reachable position the star may take any run, but it may
      // hand over only while text is left (a used-up text fails on a star).
      std::size_t first = 0;
      while (reach[first] == 0) ++first;
      for (std::size_t i = first; i < n; ++i) next[i] = 1;
    } else {
      for (std::size_t i = 0; i < n; ++i) {
        if (reach[i] != 0 && (mask[j] == '?' || mask[j] == text[i])) next[i + 1] = 1;
      }
    }
    reach.swap(next);
  }
  return reach[n] != 0;
}

std::string InsertThousandsSeparators(std::string_view digits, char separator) {
  std::string result(digits);
  // 1-based i = length - 2, length - 5, ... while i > 1; insert before the i-th.
  // (0-based: before index k - 3 for k = length, length - 3, ... while k >= 4).
  for (std::size_t k = digits.size(); k >= 4; k -= 3) result.insert(k - 3, 1, separator);
  return result;
}

std::string NextToken(std::string_view text, char separator, std::size_t& position) {
  const std::size_t length = text.size();
  if (position < 1) position = 1;
  while (position <= length && text[position - 1] == separator) ++position;
  if (position > length) return {};
  const std::size_t start = position - 1;
  const std::size_t stop = text.find(separator, start);
  if (stop == std::string_view::npos) {
    position = length + 2;
    return std::string(text.substr(start));
  }
  position = stop + 2;
  return std::string(text.substr(start, stop - start));
}

void SplitText(std::string_view text, char separator, std::vector<std::string>& list) {
  std::size_t position = 1;
  while (position <= text.size()) list.push_back(NextToken(text, separator, position));
}

}  // namespace korbu
