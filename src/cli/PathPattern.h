#pragma once
// A POSIX extended regular expression over bytes, as clamscan reads the patterns of
// its --exclude and --include options, matched in time linear in the text's length
// whatever the pattern: no backtracking, one pass over the text with the set of
// states the pattern can be in (Thompson's construction), each set and its moves
// kept once met (a lazily built DFA of bounded size). The same code on every
// platform, so a pattern means the same everywhere.
//
// Grammar: alternation |, groups ( ), the repeats * + ? {n} {n,} {n,m} (at most
// 255), anchors ^ and $, any byte ., bracket expressions with ranges, classes
// [:alpha:] and the like, [.c.] and [=c=]. Outside brackets a backslash makes the
// next character literal; inside, it is itself ([\] is a backslash). Characters
// are bytes.

#include <cstdint>
#include <memory>
#include <string_view>
#include <vector>

#include "platform/Expected.h"

namespace korbu::cli {

class PathPattern {
 public:
  /// The compiled pattern, or why it is not one ("unmatched parenthesis", ...).
  /// ignoreCase folds the ASCII letters.
  static Expected<PathPattern> Compile(std::string_view pattern, bool ignoreCase);

  /// True when the pattern matches somewhere in text. Safe to call from several
  /// threads at once (they take turns).
  bool Found(std::string_view text) const;

  PathPattern(PathPattern&&) noexcept;
  PathPattern& operator=(PathPattern&&) noexcept;
  ~PathPattern();

  /// The number of states: what a match costs per byte of text, at most.
  std::size_t Size() const { return program_.size(); }

  /// The most states a pattern may compile to; a larger one is refused.
  static constexpr std::size_t kMaxStates = 20000;

 private:
  friend class PatternCompiler;
  enum class Op : std::uint8_t { Bytes, Split, Jump, LineStart, LineEnd, Match };
  struct Instruction {
    Op op = Op::Match;
    std::uint32_t x = 0;  // Bytes: the set's index; Split and Jump: the next state
    std::uint32_t y = 0;  // Split: the other next state
  };
  struct ByteSet {
    std::uint64_t bits[4] = {};
    bool Has(unsigned char c) const { return (bits[c >> 6] >> (c & 63)) & 1u; }
    void Add(unsigned char c) { bits[c >> 6] |= std::uint64_t{1} << (c & 63); }
  };

  struct Dfa;
  using StateSet = std::vector<std::uint32_t>;

  PathPattern();
  /// The states that read a byte or wait for the text's end, reached from seeds
  /// without reading; true in `match` when the match state is among them.
  StateSet Closure(const StateSet& seeds, bool atStart, bool atEnd, bool& match) const;

  std::vector<Instruction> program_;  // state 0 is the start
  std::vector<ByteSet> sets_;
  std::unique_ptr<Dfa> dfa_;  // the sets met so far and their moves
};

}  // namespace korbu::cli
