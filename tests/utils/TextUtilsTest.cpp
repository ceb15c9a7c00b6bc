#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/TextUtils.h"

namespace korbu {
namespace {

using Items = std::vector<std::string>;

// The matching rules applied literally by recursion: the reference the fast
// matcher must agree with.
bool ReferenceMatch(std::string_view text, std::string_view mask) {
  if (mask == "*") return true;
  if (text.empty()) return mask.empty();
  if (mask.empty()) return false;
  if (mask[0] == '*') return ReferenceMatch(text, mask.substr(1)) || ReferenceMatch(text.substr(1), mask);
  return (mask[0] == '?' || mask[0] == text[0]) && ReferenceMatch(text.substr(1), mask.substr(1));
}

// Every text over the alphabet of up to `length` bytes, the empty one first.
std::vector<std::string> AllTexts(std::string_view alphabet, std::size_t length) {
  std::vector<std::string> all{""};
  for (std::size_t begin = 0, end = 1; length-- > 0; begin = end, end = all.size()) {
    for (std::size_t k = begin; k < end; ++k) {
      for (char c : alphabet) all.push_back(all[k] + c);
    }
  }
  return all;
}

TEST(MatchesMask, FollowsTheRulesByteExactly) {
  EXPECT_TRUE(MatchesMask("xbrontoky", "*brontok*"));
  EXPECT_FALSE(MatchesMask("Brontok", "*brontok*"));
  EXPECT_TRUE(MatchesMask("", "*"));
  EXPECT_FALSE(MatchesMask("", "**"));
  EXPECT_FALSE(MatchesMask("abc", "abc**"));  // the two stars need a byte
  EXPECT_TRUE(MatchesMask("abcd", "abc**"));
  // Every text and mask of up to four bytes, zero bytes included.
  for (const auto& mask : AllTexts(std::string("a*?\0", 4), 4)) {
    for (const auto& text : AllTexts(std::string("ab\0", 3), 4)) {
      ASSERT_EQ(MatchesMask(text, mask), ReferenceMatch(text, mask))
          << "text '" << text << "' (" << text.size() << " bytes), mask '" << mask << "'";
    }
  }
}

TEST(MatchesMask, LongInputsAreMatchedWholeAndManyStarsStayFast) {
  const std::string longName = std::string(300, 'x') + "brontok" + std::string(300, 'y');
  EXPECT_TRUE(MatchesMask(longName, "*brontok*"));
  EXPECT_FALSE(MatchesMask(longName, "*brontok*z"));
  // A byte past the 256th still counts: a cut text would match here.
  EXPECT_FALSE(MatchesMask(std::string(400, 'a') + "b", std::string(400, 'a')));
  EXPECT_TRUE(MatchesMask(std::string(301, 'q'), std::string(300, '?') + "*"));
  EXPECT_FALSE(MatchesMask(std::string("ab\0cd", 5), "ab"));  // no stop at a zero byte
  // Exponential for a recursive matcher.
  std::string stars;
  for (int i = 0; i < 60; ++i) stars += "*a";
  EXPECT_FALSE(MatchesMask(std::string(5000, 'a'), stars + "b"));
  EXPECT_TRUE(MatchesMask(std::string(5000, 'a') + "b", stars + "b"));
}

TEST(InsertThousandsSeparators, GroupsOfThreeFromTheRight) {
  EXPECT_EQ(InsertThousandsSeparators("1234", '.'), "1.234");
  EXPECT_EQ(InsertThousandsSeparators("123456", '.'), "123.456");
  EXPECT_EQ(InsertThousandsSeparators("1234567", '.'), "1.234.567");
  EXPECT_EQ(InsertThousandsSeparators("123", '.'), "123");
  EXPECT_EQ(InsertThousandsSeparators("", '.'), "");
}

TEST(SplitText, SkipsRunsOfSeparators) {
  auto split = [](std::string_view text) {
    Items items;
    SplitText(text, ':', items);
    return items;
  };
  EXPECT_EQ(split("a::b"), (Items{"a", "b"}));
  EXPECT_EQ(split("a:"), (Items{"a"}));
  EXPECT_EQ(split("a::"), (Items{"a", ""}));
  EXPECT_EQ(split("::a:::"), (Items{"a", ""}));
  EXPECT_EQ(split(":"), (Items{""}));  // only separators: the one final empty item
  EXPECT_EQ(split(""), Items{});
  EXPECT_EQ(split("ClamAV-VDB:14 Jan 2024:6"), (Items{"ClamAV-VDB", "14 Jan 2024", "6"}));
  Items list{"kept"};
  SplitText("x", ':', list);
  EXPECT_EQ(list, (Items{"kept", "x"}));
  std::size_t position = 1;
  EXPECT_EQ(NextToken("ab::cd", ':', position), "ab");
  EXPECT_EQ(position, 4u);  // just past the separator
}

}  // namespace
}  // namespace korbu
