#include "detect/Heuristic.h"

#include "detect/ExecutableFile.h"

namespace korbu {

const std::array<std::string_view, kHeuristicPatternLength> HeuristicHexTable = {
    "57", "19", "4D", "0A", "74", "18", "96", "39", "81", "41", "E5", "E0", "B7", "A0", "1E", "36",
    "0A", "71", "80", "92", "EB", "3F", "39", "2B", "F0", "37", "F8", "20", "BF", "DB", "9A", "6F",
    "8D", "06", "DD", "81", "C1", "EE", "05", "2B", "C6", "BE", "80", "42", "BC", "6A", "2A", "01",
    "58", "98", "80", "CD", "EC", "51", "50", "53", "99", "DA", "C7", "1C", "85", "DB", "B0", "F9",
    "58", "7E", "1A", "0F", "56", "89", "5D", "FC", "E1", "55", "08", "8D", "34", "C3", "98", "0C",
    "3E", "E8", "31", "45", "FF", "02", "03", "C6", "D4", "4D", "FC", "18", "75", "EB", "5E", "46",
};

namespace {
int DigitValue(char c) {
  const int code = static_cast<unsigned char>(c);
  return (c >= '0' && c <= '9') ? code - '0' : code - 55;
}
}  // namespace

std::uint8_t HexPairToByte(std::string_view text) {
  if (text.size() < 2) return 0;
  const int value = DigitValue(text[0]) * 16 + DigitValue(text[1]);
  return static_cast<std::uint8_t>(value & 0xFF);
}

std::string BuildHeuristicPattern() {
  std::string pattern;
  pattern.reserve(kHeuristicPatternLength);
  for (std::string_view pair : HeuristicHexTable) pattern.push_back(static_cast<char>(HexPairToByte(pair)));
  return pattern;
}

const std::string& HeuristicPattern() {
  static const std::string pattern = BuildHeuristicPattern();
  return pattern;
}

bool HeuristicCheck(const std::string& path) {
  return ExamineExecutable(path, ExamineFor::Pattern).patternFound;
}

}  // namespace korbu
