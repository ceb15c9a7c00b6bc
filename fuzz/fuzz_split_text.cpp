// Splitting at a separator and walking the tokens one by one.

#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "services/TextUtils.h"

using korbu::fuzz::Check;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korbu::fuzz::InputSplitter input(data, size);
  const char separator = static_cast<char>(input.Byte());
  std::string_view text = input.Rest();

  std::vector<std::string> list;
  korbu::SplitText(text, separator, list);
  std::size_t tokenBytes = 0;
  for (const auto& item : list) {
    Check(item.find(separator) == std::string::npos, "no item holds the separator");
    tokenBytes += item.size();
  }
  Check(tokenBytes <= text.size(), "items come from the text");

  std::size_t position = 1;
  std::size_t steps = 0;
  std::vector<std::string> walked;
  while (position <= text.size()) {
    std::string token = korbu::NextToken(text, separator, position);
    Check(token.find(separator) == std::string::npos, "no token holds the separator");
    if (!token.empty()) walked.push_back(token);
    Check(++steps <= text.size() + 1, "each token moves the position on");
  }
  std::vector<std::string> nonEmpty;
  for (const auto& item : list) {
    if (!item.empty()) nonEmpty.push_back(item);
  }
  Check(walked == nonEmpty, "walking the tokens gives the split's items");

  std::string grouped = korbu::InsertThousandsSeparators(text.substr(0, 64), ',');
  Check(grouped.size() >= std::min<std::size_t>(text.size(), 64), "grouping keeps the digits");
  return 0;
}
