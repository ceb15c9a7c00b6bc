#pragma once
// The content test of a search: does a file hold a phrase.

#include <cstddef>
#include <string>
#include <string_view>

namespace korbu {

/// Size of the blocks a file is read in (a longer phrase makes them phrase + 1).
inline constexpr std::size_t kContentBlockSize = 61440;

/// True when the file at path contains phrase, which is already in comparison form
/// (lower case when ignoreCase: every file byte then goes through the locale's
/// lower-case table). With wholeWord the bytes on either side of the match must not
/// be letters or digits (the start and the end of the file count as neither).
/// False when the file cannot be opened or read, or is shorter than the phrase.
/// An empty phrase is always contained.
bool FileContainsPhrase(const std::string& path, std::string_view phrase, bool ignoreCase,
                        bool wholeWord);

}  // namespace korbu
