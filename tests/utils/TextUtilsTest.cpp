#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "services/TextUtils.h"

namespace korbu {
namespace {

using Items = std::vector<std::string>;

// The matching rules applied literally by recursion: the reference the fast
// matcher must agree with on every small input.
bool ReferenceMatch(std::string_view text, std::string_view mask) {
  if (mask == "*") return true;
  if (text.empty()) return mask.empty();
  if (mask.empty()) return false;
  if (mask[0] == '*') {
    return ReferenceMatch(text, mask.substr(1)) || ReferenceMatch(text.substr(1), mask);
  }
  if (mask[0] == '?' || mask[0] == text[0]) return ReferenceMatch(text.substr(1), mask.substr(1));
  return false;
}

// Every text over {a, b, \0} up to `length` bytes, starting with the empty one.
std::vector<std::string> AllTexts(std::string_view alphabet, std::size_t length) {
  std::vector<std::string> all{""};
  for (std::size_t begin = 0, size = 1; size <= length; ++size) {
    const std::size_t end = all.size();
    for (std::size_t k = begin; k < end; ++k) {
      for (char c : alphabet) all.push_back(all[k] + c);
    }
    begin = end;
  }
  return all;
}

TEST(MatchesMask, ByteExactStarsAndQuestionMarks) {
  EXPECT_TRUE(MatchesMask("xbrontoky", "*brontok*"));
  EXPECT_TRUE(MatchesMask("brontok", "*brontok*"));
  EXPECT_FALSE(MatchesMask("Brontok", "*brontok*"));
  EXPECT_TRUE(MatchesMask("", "*"));
  EXPECT_TRUE(MatchesMask("", ""));
  EXPECT_FALSE(MatchesMask("", "**"));
  EXPECT_FALSE(MatchesMask("", "?"));
  EXPECT_FALSE(MatchesMask("abc", "abc**"));  // the two stars need a byte
  EXPECT_TRUE(MatchesMask("abcd", "abc**"));
  EXPECT_TRUE(MatchesMask("abc", "a?c"));
  EXPECT_FALSE(MatchesMask("abcd", "a?c"));
  EXPECT_FALSE(MatchesMask("abc", ""));
}

TEST(MatchesMask, AgreesWithTheRecursiveRulesOnAllSmallInputs) {
  const auto texts = AllTexts(std::string("ab\0", 3), 4);
  const auto masks = AllTexts(std::string("a*?\0", 4), 4);
  for (const auto& mask : masks) {
    for (const auto& text : texts) {
      ASSERT_EQ(MatchesMask(text, mask), ReferenceMatch(text, mask))
          << "text of " << text.size() << " bytes '" << text << "', mask '" << mask << "'";
    }
  }
}

TEST(MatchesMask, LongInputsAreMatchedWholeAndManyStarsStayFast) {
  const std::string longName = std::string(300, 'x') + "brontok" + std::string(300, 'y');
  EXPECT_TRUE(MatchesMask(longName, "*brontok*"));
  EXPECT_FALSE(MatchesMask(longName, "*brontok*z"));
  // A byte past the 256th still counts: a cut text would match here.
  EXPECT_FALSE(MatchesMask(std::string(400, 'a') + "b", std::string(400, 'a')));
  const std::string longMask = std::string(300, '?') + "*";
  EXPECT_TRUE(MatchesMask(std::string(301, 'q'), longMask));
  EXPECT_FALSE(MatchesMask(std::string(300, 'q'), longMask + "*"));
  // Exponential for a recursive matcher; must finish at once here.
  std::string stars;
  for (int i = 0; i < 60; ++i) stars += "*a";
  EXPECT_FALSE(MatchesMask(std::string(5000, 'a'), stars + "b"));
  EXPECT_TRUE(MatchesMask(std::string(5000, 'a') + "b", stars + "b"));
}

TEST(MatchesMask, ZeroBytesAreOrdinaryBytes) {
  const std::string text("ab\0cd", 5);
  EXPECT_TRUE(MatchesMask(text, "ab?cd"));
  EXPECT_TRUE(MatchesMask(text, "*cd"));
  EXPECT_FALSE(MatchesMask(text, "ab"));
  EXPECT_TRUE(MatchesMask(text, std::string("ab\0*", 4)));
}

TEST(InsertThousandsSeparators, GroupsOfThreeFromTheRight) {
  EXPECT_EQ(InsertThousandsSeparators("1234", '.'), "1.234");
  EXPECT_EQ(InsertThousandsSeparators("123456", '.'), "123.456");
  EXPECT_EQ(InsertThousandsSeparators("1234567", '.'), "1.234.567");
  EXPECT_EQ(InsertThousandsSeparators("12345678", ','), "12,345,678");
  EXPECT_EQ(InsertThousandsSeparators("123", '.'), "123");
  EXPECT_EQ(InsertThousandsSeparators("12", '.'), "12");
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
  EXPECT_EQ(split("a:::"), (Items{"a", ""}));
  EXPECT_EQ(split("::a"), (Items{"a"}));
  EXPECT_EQ(split(""), Items{});
  EXPECT_EQ(split(":"), (Items{""}));  // only separators: the one final empty item
  EXPECT_EQ(split("ClamAV-VDB:14 Jan 2024:6:17"), (Items{"ClamAV-VDB", "14 Jan 2024", "6", "17"}));

  Items list{"kept"};
  SplitText("x:y", ':', list);
  EXPECT_EQ(list, (Items{"kept", "x", "y"}));
}

TEST(NextToken, MovesThePositionPastTheSeparator) {
  std::size_t position = 1;
  EXPECT_EQ(NextToken("ab::cd", ':', position), "ab");
  EXPECT_EQ(position, 4u);
  EXPECT_EQ(NextToken("ab::cd", ':', position), "cd");
  EXPECT_EQ(position, 8u);
  EXPECT_EQ(NextToken("ab::cd", ':', position), "");
  position = 3;
  EXPECT_EQ(NextToken("ab::", ':', position), "");
  EXPECT_GT(position, 4u);
}

}  // namespace
}  // namespace korbu
