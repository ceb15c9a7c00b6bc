// The quick test of an update's signatures clears a file only where no added
// signature can match what the engine matched in it.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "cache/AddedSignatureFilter.h"
#include "platform/OpenedFile.h"
#include "support/TempTree.h"

namespace korbu::cache {
namespace {

class AddedSignatureFilterTest : public testing::Test {
 protected:
  bool MayMatch(const AddedSignatureFilter& filter, const std::string& content, MatchedAs as) {
    platform::OpenedFile file = platform::OpenedFile::Open(tree_.Write("f" + std::to_string(++files_), content));
    EXPECT_TRUE(file.IsOpen());
    return filter.MayMatch(file, as);
  }
  test::TempTree tree_;
  int files_ = 0;
};

TEST_F(AddedSignatureFilterTest, FindsAPatternAcrossTheReadsOfALargeFile) {
  const AddedSignatureFilter filter({"\xf1needle\xf2", "other pattern"}, {});
  std::string large(600000, '\x9f');
  EXPECT_FALSE(MayMatch(filter, large, MatchedAs::Bytes));
  // Across the seam of the first read, and at the very end.
  for (std::size_t at : {std::size_t{262140}, large.size() - 8}) {
    std::string content = large;
    content.replace(at, 8, "\xf1needle\xf2");
    EXPECT_TRUE(MayMatch(filter, content, MatchedAs::Bytes)) << at;
  }
  EXPECT_TRUE(MayMatch(filter, large, MatchedAs::Unknown));  // nothing known: the engine judges
}

TEST_F(AddedSignatureFilterTest, LooksInNormalizedTextOnlyWhereTheEngineMatchedIt) {
  // The engine's text: capitals small, a run of white space one space, other
  // control bytes and bytes over 127 dropped.
  const std::string content = "Say \x01HELLO\t\r\n  W\xe9orld";
  for (const char* pattern : {"hello world", "hello   world", " hello w"}) {
    const AddedSignatureFilter filter({pattern}, {});
    EXPECT_TRUE(MayMatch(filter, content, MatchedAs::Text)) << pattern;
    EXPECT_FALSE(MayMatch(filter, content, MatchedAs::Bytes)) << pattern;
  }
  // What the normalized text never holds is looked for in the bytes alone.
  const AddedSignatureFilter capitals({"HELLO\t"}, {});
  EXPECT_TRUE(MayMatch(capitals, content, MatchedAs::Bytes));
  EXPECT_TRUE(MayMatch(capitals, content, MatchedAs::Text));
  EXPECT_FALSE(MayMatch(capitals, "hello\tthere", MatchedAs::Text));

  // A hash's size may be the file's or, for text, near its normalized text's.
  const std::string spaced = "A  B";
  EXPECT_TRUE(MayMatch(AddedSignatureFilter({}, {4}), spaced, MatchedAs::Bytes));
  EXPECT_FALSE(MayMatch(AddedSignatureFilter({}, {3}), spaced, MatchedAs::Bytes));
  EXPECT_TRUE(MayMatch(AddedSignatureFilter({}, {3}), spaced, MatchedAs::Text));
  EXPECT_FALSE(MayMatch(AddedSignatureFilter({}, {1}), spaced, MatchedAs::Text));
}

TEST_F(AddedSignatureFilterTest, ExistsOnlyForUpdatesItCanJudge) {
  const auto filterOf = [&](const std::string& name, const std::string& lines) {
    const std::string folder = tree_.MakeDir("db" + std::to_string(++files_));
    tree_.Write("db" + std::to_string(files_) + "/shaping.ftm", "0:0:4d5a:PE:CL_TYPE_ANY:CL_TYPE_MSEXE\n");
    tree_.Write("db" + std::to_string(files_) + "/" + name, lines);
    return AddedSignatureFilter::FromSmallEngine(folder, "").has_value();
  };
  EXPECT_TRUE(filterOf("added.ndb", "A:0:*:6e6565646c65\nB:0:EOF-10:0102030405\n"));
  EXPECT_TRUE(filterOf("added.hsb", "0123456789abcdef0123456789abcdef01234567:512:C\n"));
  EXPECT_FALSE(filterOf("added.ndb", "A:1:*:6e6565646c65\n"));      // for one file type
  EXPECT_FALSE(filterOf("added.ndb", "A:0:*:6e65??646c65\n"));      // a wildcard
  EXPECT_FALSE(filterOf("added.ndb", "A:0:*:6e6565\n"));            // too short to look for
  EXPECT_FALSE(filterOf("added.hdb", "0123456789abcdef0123456789abcdef:*:C\n"));  // any size
  EXPECT_FALSE(filterOf("added.ldb", "A;Engine:51-255,Target:0;0;6e6565646c65\n"));
  EXPECT_FALSE(filterOf("bytecode.cvd", "anything"));  // bytecode may make the engine match more
}

}  // namespace
}  // namespace korbu::cache
