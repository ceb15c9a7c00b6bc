#pragma once
// Small text services: wildcard matching, digit grouping and splitting at a
// separator. Texts are byte strings and may hold zero bytes; positions are 1-based.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korbu {

/// Byte-exact wildcard match of a whole text: '*' takes any run of bytes, '?' one
/// byte, every other byte stands for itself (letter case counts). An empty text
/// matches only the mask "*" or an empty mask, so "**" does not match it, and a
/// mask ending in two or more stars needs at least one byte for them.
/// Texts and masks of any length are matched whole, zero bytes being ordinary
/// bytes; the time is bounded by length(text) * length(mask).
bool MatchesMask(std::string_view text, std::string_view mask);

/// The digits with the separator put between groups of three, counted from the
/// right: "1234567" with '.' gives "1.234.567"; up to three characters stay as
/// they are.
std::string InsertThousandsSeparators(std::string_view digits, char separator);

/// The token at the 1-based position after skipping a run of separators, up to
/// the next separator or the end. Moves the position just past that separator
/// (to length + 2 when the token reached the end). Empty when only separators
/// remain, and then the position is past the end.
std::string NextToken(std::string_view text, char separator, std::size_t& position);

/// Appends the tokens of the text to the list. Runs of separators and leading ones
/// give no empty items; a text ending in two or more separators gives one final
/// empty item; an empty text adds nothing.
void SplitText(std::string_view text, char separator, std::vector<std::string>& list);

}  // namespace korbu
