// The command line's texts that strangers shape: exclusion patterns, checked
// against the C library's own POSIX matcher, and names as the report prints them.

#include <regex.h>

#include <algorithm>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzSupport.h"
#include "cli/DisplayText.h"
#include "cli/PathPattern.h"

using korbu::fuzz::Check;

namespace {

// Where the C library and clamscan read a pattern alike: no escapes (the C library
// knows \w, \1 and more), no "{," (a GNU repeat there, text in clamscan's), no
// collating items, no NUL, no newline (after one the C library's "^" also matches
// after a newline of the text).
bool SameDialect(std::string_view pattern) {
  if (pattern.find_first_of(std::string_view("\\\0\n", 3)) != std::string_view::npos) return false;
  // An ERE's "^" anchors wherever it stands; the C library takes one after other
  // atoms ("^(.*^)++x") for a literal.
  for (std::size_t i = 1; i < pattern.size(); ++i) {
    if (pattern[i] == '^' && pattern[i - 1] != '(' && pattern[i - 1] != '|' && pattern[i - 1] != '[') return false;
  }
  return pattern.find("{,") == std::string_view::npos && pattern.find("[.") == std::string_view::npos &&
         pattern.find("[=") == std::string_view::npos;
}

// How deeply repetitions stack or nest: "a*" is 1, "(a*)+" and "a**" are 2. The C
// library's compile time doubles with each level ("^(a*)+++++" takes seconds), so the
// comparison keeps to shallow patterns; the matcher under test has its own bound.
int RepetitionDepth(std::string_view pattern) {
  std::vector<int> groups{0};  // the deepest repetition inside each open group
  int last = 0;                // that of the atom just read
  int deepest = 0;
  for (std::size_t i = 0; i < pattern.size(); ++i) {
    const char c = pattern[i];
    if (c == '[') {
      std::size_t j = i + 1;
      if (j < pattern.size() && pattern[j] == '^') ++j;
      if (j < pattern.size() && pattern[j] == ']') ++j;
      while (j < pattern.size() && pattern[j] != ']') {
        if (pattern.substr(j, 2) == "[:") {
          const std::size_t end = pattern.find(":]", j + 2);
          j = end == std::string_view::npos ? pattern.size() : end + 1;
        }
        ++j;
      }
      i = j;
      last = 0;
    } else if (c == '(') {
      groups.push_back(0);
      last = 0;
    } else if (c == ')') {
      last = groups.size() > 1 ? groups.back() : 0;
      if (groups.size() > 1) groups.pop_back();
    } else if (c == '*' || c == '+' || c == '?' || c == '{') {
      if (c == '{') i = std::min(pattern.find('}', i), pattern.size());
      ++last;
      deepest = std::max(deepest, last);
    } else {
      last = 0;
    }
    groups.back() = std::max(groups.back(), last);
  }
  return deepest;
}

std::string SwapCase(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    else if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

void CheckPattern(std::string_view pattern, std::string_view text) {
  const auto exact = korbu::cli::PathPattern::Compile(pattern, false);
  const auto folded = korbu::cli::PathPattern::Compile(pattern, true);
  Check(exact.has_value() == folded.has_value(), "letter case does not decide whether a pattern is valid");
  if (!exact) return;
  Check(exact->Size() <= korbu::cli::PathPattern::kMaxStates, "the state limit holds");
  const bool found = exact->Found(text);
  Check(folded->Found(text) == folded->Found(SwapCase(text)), "ignoring case ignores it");
  Check(!found || folded->Found(text), "what matches exactly matches ignoring case");

  if (!SameDialect(pattern) || RepetitionDepth(pattern) > 4 || text.find('\0') != std::string_view::npos) return;
  regex_t system;
  const std::string terminated(pattern);
  if (regcomp(&system, terminated.c_str(), REG_EXTENDED | REG_NOSUB) != 0) return;
  const bool systemFound = regexec(&system, std::string(text).c_str(), 0, nullptr, 0) == 0;
  regfree(&system);
  Check(found == systemFound, "the pattern matches where the C library's matcher does");
}

void CheckDisplay(std::string_view a, std::string_view b) {
  const std::string shownA = korbu::cli::ReadableFileName(a);
  for (char c : shownA) {
    Check(c != '\n' && c != '\r' && c != '\x1b', "a name prints on one line without escapes of the terminal");
  }
  Check(shownA.find("\xE2\x80\xA8") == std::string::npos && shownA.find("\xE2\x80\xAE") == std::string::npos &&
            shownA.find("\xC2\x85") == std::string::npos,
        "no line separator or bidirectional override gets through");
  if (a != b) Check(shownA != korbu::cli::ReadableFileName(b), "two names never print alike");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  korbu::fuzz::InputSplitter input(data, size);
  const std::string_view first = input.Part();
  const std::string_view rest = input.Rest();
  CheckPattern(first, rest);
  CheckDisplay(first, rest);
  return 0;
}
