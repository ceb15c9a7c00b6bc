#pragma once
// A quick test of a file found clean before a database update against what the
// update added, for a file whose clean verdict said what the engine matched in it
// (MatchedAs): its bytes as they lie, or those and the text the engine normalizes
// from them. An added byte pattern can match such a file only where it occurs in
// that, and an added whole-file hash only where a size agrees. A file the test
// clears keeps its verdict without a small engine; any other is judged by the
// small engine. Only an update made of such signatures alone has a test.

#include <cstdint>
#include <optional>
#include <string>
#include <unordered_map>
#include <vector>

#include "engine/EngineScanner.h"
#include "platform/OpenedFile.h"

namespace korbu::cache {

/// Byte strings of at least four bytes, looked for in a stream of bytes.
class PatternSet {
 public:
  static constexpr std::size_t kAnchor = 4;

  explicit PatternSet(std::vector<std::string> patterns);

  bool Empty() const { return patterns_.empty(); }
  /// True when a pattern is shorter than kAnchor: it is never looked for.
  bool HasTooShort() const { return tooShort_; }

  /// One stream's search: bytes fed in order, a pattern across two feeds found.
  class Stream {
   public:
    explicit Stream(const PatternSet& set) : set_(set) {}
    /// True once a pattern has been found in the bytes fed so far.
    bool Feed(const unsigned char* bytes, std::size_t count);

   private:
    bool Search() const;
    const PatternSet& set_;
    std::vector<unsigned char> held_;  // the last bytes fed, a pattern's length at most
  };

 private:
  static std::size_t AnchorHash(std::uint32_t anchor) { return (anchor * 0x9E3779B1u) >> (32 - kAnchorHashBits); }
  bool AnchorMayStart(std::uint32_t anchor) const {
    const std::size_t hash = AnchorHash(anchor);
    return (anchorBits_[hash / 64] & (std::uint64_t{1} << (hash % 64))) != 0;
  }
  static constexpr unsigned kAnchorHashBits = 20;
  std::vector<std::string> patterns_;
  std::size_t longest_ = 0;
  bool tooShort_ = false;
  // Which hashes of a pattern's first four bytes occur, and the patterns by them.
  std::vector<std::uint64_t> anchorBits_;
  std::unordered_map<std::uint32_t, std::vector<std::size_t>> byAnchor_;
};

class AddedSignatureFilter {
 public:
  /// The test of a small engine's databases as the cache index writes them (the
  /// official and the local folder); empty when they hold any added signature it
  /// cannot judge (anything but body signatures for any file type made of bytes
  /// alone, of four or more, and hash signatures with a size) or any database file
  /// it does not know, such as bytecode, which may make the engine match more.
  static std::optional<AddedSignatureFilter> FromSmallEngine(const std::string& official, const std::string& local);

  /// The test of these byte patterns (of at least four bytes each) and file sizes.
  AddedSignatureFilter(std::vector<std::string> patterns, std::vector<std::uint64_t> sizes);

  /// False only when no added signature can match the file, matched as the engine
  /// matched it: no size of a hash is the file's (or, for text, its normalized
  /// text's) and no pattern occurs in what was matched. True when one may, when
  /// that is unknown, or when the file could not be read to its end.
  bool MayMatch(platform::OpenedFile& file, MatchedAs matchedAs) const;

 private:
  bool SizeMayMatch(std::uint64_t low, std::uint64_t high) const;

  PatternSet bytes_;
  // The patterns as they can occur in normalized text, where one space stands for
  // a run; those it can never hold are left out.
  PatternSet text_;
  std::vector<std::uint64_t> sizes_;  // sorted
};

}  // namespace korbu::cache
