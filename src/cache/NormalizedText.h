#pragma once
// The text libclamav's script scanner makes of a text file's bytes before it
// matches them: bytes under a space other than white space, and every byte over
// 127, are dropped; a run of white space is one space; capitals are made small.
// The scanner normalizes a buffer at a time and starts each one afresh, so its
// text may hold a second space right after a space where this one holds one;
// whoever looks for a pattern in this text looks for it with its runs of spaces
// made one (CollapseSpaces), which finds every match the scanner can make.

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace korbu::cache {

class TextNormalizer {
 public:
  /// Appends the text of the next bytes of the file to out.
  void Feed(const unsigned char* bytes, std::size_t count, std::vector<unsigned char>& out);

  /// False for a byte the normalized text never holds.
  static bool CanHold(unsigned char byte);

 private:
  bool spaceWritten_ = false;
};

/// The bytes with every run of spaces made one space.
std::string CollapseSpaces(std::string_view bytes);

}  // namespace korbu::cache
