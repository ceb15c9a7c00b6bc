#include <gtest/gtest.h>

#include <stdlib.h>
#include <time.h>

#include "findfile/ContentMatch.h"
#include "findfile/TargetSearch.h"
#include "platform/LocalTime.h"
#include "platform/Path.h"
#include "support/TempTree.h"

namespace korbu {
namespace {

using test::TempTree;

TSearchRec Rec(std::uint64_t size, std::uint32_t attr = ffArchive, std::string name = "a.exe") {
  TSearchRec rec;
  rec.Name = std::move(name);
  rec.Size = static_cast<std::uint32_t>(size);
  rec.FullSize = size;
  rec.Attr = attr;
  return rec;
}

TEST(SplitCriteriaList, TrimsDropsEmptyAndRepeatedPieces) {
  EXPECT_EQ(SplitCriteriaList(" *.exe ;;\t*.SCR;*.scr;*.EXE ; ;*.pif"),
            (TStringList{"*.exe", "*.SCR", "*.pif"}));
  EXPECT_EQ(SplitCriteriaList("/a/B;/a/b", false), (TStringList{"/a/B", "/a/b"}));
  EXPECT_TRUE(SplitCriteriaList(" ; ").empty());
}

TEST(TargetSearch, PreparesFoldersWithPrefixesMasksAndOrder) {
  TSearchCriteria c;
  c.Files.FileName = "*.exe;*.com";
#ifdef _WIN32
  const std::string x = "C:\\x\\";  // a full path begins with its drive there
#else
  const std::string x = "/x/";
#endif
  const char d = platform::kPathDelim;
  c.Files.Location = "<" + x + "one;>" + x + "two;" + x + "one" + d + ";" + x + "three";
  c.Files.Included = {">" + x + "inc" + d + "*.txt"};
  c.Files.Subfolders = false;
  c.Files.MaxLevel = 3;
  TTargetSearch search(c);
  const TTargetFolderList& folders = search.TargetFolders;
  ASSERT_EQ(folders.Count(), 4u);
  EXPECT_EQ(folders[0].Folder, x + "inc" + d);
  EXPECT_EQ(folders[0].FileMasks, (TStringList{"*.txt"}));
  EXPECT_TRUE(folders[0].Recursive);
  // Written once without and once with a trailing separator: one folder, masks twice,
  // recursion from the latest entry.
  EXPECT_EQ(folders[1].Folder, x + "one" + d);
  EXPECT_EQ(folders[1].FileMasks, (TStringList{"*.exe", "*.com", "*.exe", "*.com"}));
  EXPECT_FALSE(folders[1].Recursive);
  EXPECT_TRUE(folders[2].Recursive);
  EXPECT_EQ(folders[2].MaxLevel, 3);
  EXPECT_FALSE(folders[3].Recursive);

}

TEST(TargetSearch, AttributeAndSizeTests) {
  TSearchCriteria c;
  c.Size.Max = 102400;
  TTargetSearch search(c);
  EXPECT_TRUE(search.AcceptEntry("/", Rec(102400)));
  EXPECT_FALSE(search.AcceptEntry("/", Rec(102401)));
  EXPECT_FALSE(search.AcceptEntry("/", Rec((std::uint64_t{1} << 32) + 100)));  // not its low 32 bits
  EXPECT_TRUE(search.AcceptEntry("/", Rec(0)));
  EXPECT_TRUE(search.AcceptEntry("/", Rec(1, ffArchive | ffHidden | ffSystem | ffReadonly)));
  EXPECT_TRUE(search.AcceptEntry("/", Rec(1, 0x800 | 0x100 | ffArchive)));  // compressed, temporary
  EXPECT_FALSE(search.AcceptEntry("/", Rec(0, ffDirectory)));

  c.Attribute.ExactMatch = true;
  c.Attribute.Attributes = ffArchive | ffHidden | ffDirectory;
  c.Content.SetPhrase("x");  // takes directories out: only files have content
  TTargetSearch exact(c);
  EXPECT_EQ(exact.Attribute.Attributes, ffArchive | ffHidden);
  EXPECT_FALSE(exact.AcceptEntry("/", Rec(1, ffArchive)));
}

TEST(TargetSearch, TimeBoundsCompareDaysTimesOrBoth) {
  // 2024-03-10 06:00 UTC: day 45361 since 1899-12-30, a quarter of a day.
  const std::int64_t fileTime = (1710050400LL + 11644473600LL) * 10000000LL;
#ifdef _WIN32
  // The system's own time zone counts there, and TZ does not change it.
  const auto local = platform::FileTimeToLocalTime(fileTime);
  if (!local || local->hour != 6 || local->day != 10) GTEST_SKIP() << "the system's time zone is not UTC";
#else
  setenv("TZ", "UTC", 1);
  tzset();
#endif
  ASSERT_DOUBLE_EQ(*FileTimeToDateTime(fileTime), 45361.25);
  TSearchRec rec = Rec(1);
  rec.LastWriteTime = fileTime;
  auto accepts = [&](double before, double after) {
    TSearchCriteria c;
    c.TimeStamp.ModifiedBefore = before;
    c.TimeStamp.ModifiedAfter = after;
    return TTargetSearch(c).AcceptEntry("/", rec);
  };
  EXPECT_TRUE(accepts(45361, 0));   // same day counts as not after
  EXPECT_FALSE(accepts(45360, 0));
  EXPECT_TRUE(accepts(0, 45361));
  EXPECT_TRUE(accepts(0.25, 0.25));  // time of day only
  EXPECT_FALSE(accepts(0.2, 0));
  EXPECT_FALSE(accepts(45361.2, 0));  // full value
  EXPECT_TRUE(accepts(45361.3, 45361.2));
#ifndef _WIN32
  unsetenv("TZ");
  tzset();
#endif
}

TEST(ContentMatch, FindsPhraseAcrossBlocksWithCaseAndWordRules) {
  TempTree tree;
  std::string bytes(kContentBlockSize * 2, '.');
  bytes.replace(kContentBlockSize - 3, 6, "Needle");  // spans the first block's end
  const std::string path = tree.Write("big.bin", bytes);
  EXPECT_TRUE(FileContainsPhrase(path, "needle", true, true));
  EXPECT_FALSE(FileContainsPhrase(path, "needle", false, false));
  EXPECT_TRUE(FileContainsPhrase(path, "Needle", false, true));

  // The byte after a match that ends a block is only known from the next block.
  std::string edge(kContentBlockSize + 10, ' ');
  edge.replace(kContentBlockSize - 4, 5, "wordX");
  const std::string edgePath = tree.Write("edge.bin", edge);
  EXPECT_FALSE(FileContainsPhrase(edgePath, "word", true, true));
  EXPECT_TRUE(FileContainsPhrase(edgePath, "word", true, false));

  const std::string small = tree.Write("small.txt", "abc def");
  EXPECT_TRUE(FileContainsPhrase(small, "abc", true, true));  // file start counts as a non-letter
  EXPECT_TRUE(FileContainsPhrase(small, "def", true, true));  // and so does its end
  EXPECT_FALSE(FileContainsPhrase(small, "bc", true, true));
  EXPECT_FALSE(FileContainsPhrase(small, "abc def!", true, false));  // shorter than the phrase
  EXPECT_FALSE(FileContainsPhrase(tree.Path("missing"), "abc", true, false));

  // A phrase longer than a block.
  std::string longPhrase(kContentBlockSize + 5, 'q');
  const std::string longPath = tree.Write("long.bin", "x " + longPhrase + "." + std::string(kContentBlockSize, 'y'));
  EXPECT_TRUE(FileContainsPhrase(longPath, longPhrase, false, true));
}

}  // namespace
}  // namespace korbu
