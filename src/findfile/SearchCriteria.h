#pragma once
// What a file search looks for: where, which names, and the tests every directory
// entry must pass. Plain values: copying (or Assign) copies every property.

#include <cstdint>
#include <string>
#include <vector>

namespace korbu {

using TStringList = std::vector<std::string>;

// Attribute bits of TFileAttributes, as Windows holds them.
inline constexpr std::uint32_t ffReadonly = 0x01;
inline constexpr std::uint32_t ffHidden = 0x02;
inline constexpr std::uint32_t ffSystem = 0x04;
inline constexpr std::uint32_t ffDirectory = 0x10;
inline constexpr std::uint32_t ffArchive = 0x20;
/// The only bits that take part in the attribute test.
inline constexpr std::uint32_t kTestedAttributes = 0x37;

/// Folders, names and depth.
struct TFileCriteria {
  std::string FileName;    // masks separated by ";"
  std::string Location;    // folders separated by ";", each may start with "<" or ">"
  TStringList Included;    // folder path followed by one mask, same optional prefix
  TStringList Excluded;    // patterns of files never reported
  bool Subfolders = true;  // descend when an entry has no "<" or ">"
  std::uint16_t MinLevel = 0;  // report files only at this depth or deeper; 0 = any
  std::uint16_t MaxLevel = 0;  // deepest level entered; 0 = no limit

  void Assign(const TFileCriteria& source) { *this = source; }
};

/// Attribute bits: a set of ff* bits.
struct TAttributeCriteria {
  std::uint32_t Attributes = ffArchive | ffReadonly | ffHidden | ffSystem;
  bool ExactMatch = false;

  void Assign(const TAttributeCriteria& source) { *this = source; }
};

/// Date-time bounds as day counts since 1899-12-30 with the time of day as the
/// fraction; 0 means no bound.
struct TDateTimeCriteria {
  double CreatedBefore = 0;
  double CreatedAfter = 0;
  double ModifiedBefore = 0;
  double ModifiedAfter = 0;
  double AccessedBefore = 0;
  double AccessedAfter = 0;

  void Assign(const TDateTimeCriteria& source) { *this = source; }
};

/// Inclusive size bounds in bytes; 0 means no bound.
struct TSizeCriteria {
  std::uint32_t Min = 0;
  std::uint32_t Max = 0;

  void Assign(const TSizeCriteria& source) { *this = source; }
};

/// A phrase the file must contain; an empty phrase means no content test.
class TContentCriteria {
 public:
  const std::string& Phrase() const { return phrase_; }
  void SetPhrase(std::string phrase);
  bool IgnoreCase() const { return ignoreCase_; }
  void SetIgnoreCase(bool ignoreCase);
  bool WholeWord = false;

  /// The phrase as it is compared: lower-cased when IgnoreCase.
  const std::string& ComparisonPhrase() const { return comparison_; }
  std::size_t PhraseLength() const { return comparison_.size(); }

  void Assign(const TContentCriteria& source) { *this = source; }

 private:
  void Renew();
  std::string phrase_;
  bool ignoreCase_ = true;
  std::string comparison_;
};

/// The whole set of criteria of a search.
struct TSearchCriteria {
  TFileCriteria Files;
  TAttributeCriteria Attribute;
  TDateTimeCriteria TimeStamp;
  TSizeCriteria Size;
  TContentCriteria Content;

  void Assign(const TSearchCriteria& source) { *this = source; }
};

}  // namespace korbu
