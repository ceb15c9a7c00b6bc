#include "findfile/TargetSearch.h"

#include <algorithm>

#include "findfile/ContentMatch.h"
#include "platform/AsciiCase.h"
#include "platform/Path.h"
#include "platform/Wildcard.h"

namespace korbu {
namespace {

#ifdef _WIN32
constexpr bool kFileNamesIgnoreCase = true;
#else
constexpr bool kFileNamesIgnoreCase = false;
#endif

bool SameFolderName(std::string_view a, std::string_view b) {
  return kFileNamesIgnoreCase ? platform::EqualsIgnoringCase(a, b) : a == b;
}

// Takes a leading "<" (not recursive) or ">" (recursive) off an entry.
bool TakeRecursion(std::string_view& entry, bool fallback) {
  if (!entry.empty() && (entry.front() == '<' || entry.front() == '>')) {
    const bool recursive = entry.front() == '>';
    entry.remove_prefix(1);
    return recursive;
  }
  return fallback;
}

// Before: the entry's value V must not lie after B; After (sign -1): not before it.
// A bound with no time of day compares days, one with no day compares the time of
// day, any other the whole value.
bool WithinBound(double value, double bound, int sign) {
  if (bound == 0) return true;
  double v = value;
  double b = bound;
  if (TimePart(bound) == 0) {
    v = DatePart(value);
  } else if (DatePart(bound) == 0) {
    v = TimePart(value);
  }
  return sign > 0 ? v <= b : v >= b;
}

bool PairPasses(std::int64_t fileTime, double before, double after) {
  if (before == 0 && after == 0) return true;
  auto value = FileTimeToDateTime(fileTime);
  if (!value) return false;
  return WithinBound(*value, before, +1) && WithinBound(*value, after, -1);
}

}  // namespace

TTargetFolder& TTargetFolderList::AddFolder(std::string_view path) {
  std::string full = platform::FullPath(path);
  if (!full.empty() && !platform::IsPathDelimiter(full.back())) full.push_back(platform::kPathDelim);
  for (auto& folder : folders_) {
    if (SameFolderName(folder->Folder, full)) return *folder;
  }
  folders_.push_back(std::make_unique<TTargetFolder>());
  folders_.back()->Folder = std::move(full);
  return *folders_.back();
}

TStringList SplitCriteriaList(std::string_view text, bool ignoreCase) {
  TStringList pieces;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t stop = text.find(';', start);
    if (stop == std::string_view::npos) stop = text.size();
    std::string_view piece = text.substr(start, stop - start);
    while (!piece.empty() && static_cast<unsigned char>(piece.front()) <= ' ') piece.remove_prefix(1);
    while (!piece.empty() && static_cast<unsigned char>(piece.back()) <= ' ') piece.remove_suffix(1);
    const bool repeated = std::any_of(pieces.begin(), pieces.end(), [&](const std::string& taken) {
      return ignoreCase ? platform::EqualsIgnoringCase(taken, piece) : taken == piece;
    });
    if (!piece.empty() && !repeated) pieces.emplace_back(piece);
    start = stop + 1;
  }
  return pieces;
}

TTargetSearch::TTargetSearch(const TSearchCriteria& criteria) {
  const TFileCriteria& files = criteria.Files;
  TargetFolders.ExcludedFiles = files.Excluded;

  auto configure = [&](TTargetFolder& target, bool recursive) {
    target.Recursive = recursive;
    target.MinLevel = files.MinLevel;
    target.MaxLevel = files.MaxLevel;
  };

  for (const std::string& item : files.Included) {
    std::string_view entry(item);
    const bool recursive = TakeRecursion(entry, files.Subfolders);
    const std::string folder = platform::ExtractFilePath(entry);
    TTargetFolder& target = TargetFolders.AddFolder(folder);
    target.FileMasks.emplace_back(entry.substr(folder.size()));
    configure(target, recursive);
  }

  const TStringList masks = SplitCriteriaList(files.FileName);
  for (const std::string& item : SplitCriteriaList(files.Location, kFileNamesIgnoreCase)) {
    std::string_view entry(item);
    const bool recursive = TakeRecursion(entry, files.Subfolders);
    TTargetFolder& target = TargetFolders.AddFolder(entry);
    target.FileMasks.insert(target.FileMasks.end(), masks.begin(), masks.end());
    configure(target, recursive);
  }

  Attribute = criteria.Attribute;
  TimeStamp = criteria.TimeStamp;
  Size = criteria.Size;
  Content = criteria.Content;
  // Only files have content.
  if (!Content.Phrase().empty()) Attribute.Attributes &= ~ffDirectory;
}

bool TTargetSearch::AttributesPass(const TSearchRec& entry) const {
  const std::uint32_t attributes = entry.Attr & kTestedAttributes;
  const std::uint32_t allowed = Attribute.Attributes & kTestedAttributes;
  if (Attribute.ExactMatch) return attributes == allowed;
  return (attributes & ~allowed) == 0;
}

// The whole size: its low 32 bits would let a file of 4 GiB and 100 bytes pass a
// limit of 102400 as a file of 100 bytes, and then be read in full.
bool TTargetSearch::SizePasses(const TSearchRec& entry) const {
  return (Size.Min == 0 || entry.FullSize >= Size.Min) && (Size.Max == 0 || entry.FullSize <= Size.Max);
}

bool TTargetSearch::TimesPass(const TSearchRec& entry) const {
  return PairPasses(entry.CreationTime, TimeStamp.CreatedBefore, TimeStamp.CreatedAfter) &&
         PairPasses(entry.LastWriteTime, TimeStamp.ModifiedBefore, TimeStamp.ModifiedAfter) &&
         PairPasses(entry.LastAccessTime, TimeStamp.AccessedBefore, TimeStamp.AccessedAfter);
}

bool TTargetSearch::NotExcluded(const std::string& folder, const TSearchRec& entry) const {
  // A pattern with a folder part is matched against the whole path, one without
  // against the name alone; both with the wildcard rules of file masks.
  for (const std::string& pattern : TargetFolders.ExcludedFiles) {
    const bool hasFolder = !platform::ExtractFilePath(pattern).empty();
    if (hasFolder ? platform::MatchesWildcard(folder + entry.Name, pattern)
                  : platform::MatchesWildcard(entry.Name, pattern)) {
      return false;
    }
  }
  return true;
}

bool TTargetSearch::AcceptEntry(const std::string& folder, const TSearchRec& entry) const {
  return AttributesPass(entry) && SizePasses(entry) && TimesPass(entry) && NotExcluded(folder, entry) &&
         FileContainsPhrase(folder + entry.Name, Content.ComparisonPhrase(), Content.IgnoreCase(),
                            Content.WholeWord);
}

}  // namespace korbu
