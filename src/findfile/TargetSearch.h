#pragma once
// A search prepared from its criteria when it starts: the folders to walk with
// their masks, and private copies of the entry tests. Read-only while it runs, so
// the walker thread may use it while the criteria change.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "findfile/SearchCriteria.h"
#include "findfile/SearchRec.h"

namespace korbu {

struct TTargetFolder {
  std::string Folder;  // absolute, ending in the path separator
  bool Recursive = false;
  TStringList FileMasks;  // walked from the last to the first
  std::uint16_t MinLevel = 0;
  std::uint16_t MaxLevel = 0;
};

class TTargetFolderList {
 public:
  /// The folder for a path made absolute (full path, trailing separator), created at
  /// the end of the list unless one with that path is there already. Folder names
  /// compare as the platform's file system does (letter case ignored on Windows).
  TTargetFolder& AddFolder(std::string_view path);

  std::size_t Count() const { return folders_.size(); }
  const TTargetFolder& operator[](std::size_t index) const { return *folders_[index]; }
  auto begin() const { return folders_.begin(); }
  auto end() const { return folders_.end(); }

  TStringList ExcludedFiles;

 private:
  std::vector<std::unique_ptr<TTargetFolder>> folders_;
};

/// Cuts a list at every ";", trims bytes at or below the space from each piece, and
/// drops empty pieces and repeats (compared ignoring case when ignoreCase), keeping
/// the order.
TStringList SplitCriteriaList(std::string_view text, bool ignoreCase = true);

class TTargetSearch {
 public:
  explicit TTargetSearch(const TSearchCriteria& criteria);

  /// True when the entry listed in folder (ending in the separator) passes the
  /// attribute, size, time, exclusion and content tests, in that order.
  bool AcceptEntry(const std::string& folder, const TSearchRec& entry) const;

  TTargetFolderList TargetFolders;
  TAttributeCriteria Attribute;
  TDateTimeCriteria TimeStamp;
  TSizeCriteria Size;
  TContentCriteria Content;

 private:
  bool AttributesPass(const TSearchRec& entry) const;
  bool SizePasses(const TSearchRec& entry) const;
  bool TimesPass(const TSearchRec& entry) const;
  bool NotExcluded(const std::string& folder, const TSearchRec& entry) const;
};

}  // namespace korbu
