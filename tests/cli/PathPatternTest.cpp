// Exclusion patterns: read as clamscan reads them, matched in linear time.
#include <gtest/gtest.h>

#include <string>

#include "cli/PathFilter.h"
#include "cli/PathPattern.h"
#include "platform/Path.h"

namespace korbu::cli {
namespace {

bool Found(std::string_view pattern, std::string_view text, bool ignoreCase = false) {
  auto compiled = PathPattern::Compile(pattern, ignoreCase);
  EXPECT_TRUE(compiled) << pattern << ": " << compiled.Reason();
  return compiled && compiled->Found(text);
}

TEST(PathPattern, ReadsPosixExtendedExpressionsAsClamscan) {
  EXPECT_TRUE(Found("w3\\.exe$", "/t/w3.exe"));
  EXPECT_FALSE(Found("w3\\.exe$", "/t/w3xexe"));
  EXPECT_FALSE(Found("w3\\.exe$", "/t/w3.exe.txt"));
  EXPECT_TRUE(Found("^/t/(a|bc)+/$", "/t/abca/"));
  EXPECT_FALSE(Found("^/t/(a|bc)+/$", "/t/abcb/"));
  EXPECT_TRUE(Found("x{2,3}y", "axxxy"));
  EXPECT_FALSE(Found("^x{2,3}y", "xxxxy"));
  EXPECT_TRUE(Found("^x{2,}$", "xxxxxx"));
  EXPECT_TRUE(Found("a{,3}", "a{,3}"));  // no repeat there: text
  EXPECT_TRUE(Found("[[:digit:]]-[^a-c]", "7-d"));
  EXPECT_FALSE(Found("[[:digit:]]-[^a-c]", "7-b"));
  EXPECT_TRUE(Found("[]x]", "]"));
  EXPECT_TRUE(Found("[\\]", "\\"));  // a backslash is itself inside brackets
  EXPECT_TRUE(Found("a\\+", "a+"));  // and makes the next character literal outside
  EXPECT_TRUE(Found("[[.-.]a]", "-"));
  EXPECT_TRUE(Found("^$", ""));
  EXPECT_TRUE(Found("a.c", "a\nc"));  // "." takes any byte
  EXPECT_TRUE(Found("()a", "a"));
  EXPECT_TRUE(Found("(a*)*b", "aab"));
  EXPECT_FALSE(Found("NODE", "node"));
  EXPECT_TRUE(Found("NO[D-E]E", "node", true));
  EXPECT_TRUE(Found("\xC3\xA9", "/caf\xC3\xA9/"));  // bytes
}

TEST(PathPattern, RefusesWhatIsNotAnExpression) {
  for (const char* bad : {"", "(", "a)", "[a", "[z-a]", "*a", "a|", "|a", "(|a)", "a{1", "a{3,2}", "a{256}",
                          "a\\", "^*", "[[:alnum]", "[[:nope:]]", "{1}"}) {
    EXPECT_FALSE(PathPattern::Compile(bad, false)) << bad;
  }
  // Repeats of repeats grow with the product of their counts: refused, not built.
  auto huge = PathPattern::Compile("((a{255}){255}){255}", false);
  ASSERT_FALSE(huge);
  EXPECT_NE(huge.error().reason.find("too complex"), std::string::npos);
}

// What made std::regex take minutes: each now costs one pass over the path.
TEST(PathPattern, PathologicalPatternsEndAtOnce) {
  std::string deep;
  for (int i = 0; i < 1000; ++i) deep += "/a";
  EXPECT_FALSE(Found("^(.*/)*node_modules/$", deep + "/"));
  EXPECT_FALSE(Found("(.*)*x", std::string(3880, 'a')));
  EXPECT_FALSE(Found("(a|aa)*b", std::string(5000, 'a')));
}

TEST(PathFilter, FoldersAreNamedWithoutTheirSeparatorAsClamscanNamesThem) {
  const char sep = platform::kPathDelim;
  const std::string sub = std::string(1, sep) + "t" + sep + "sub";
  PathPatterns patterns;
  patterns.excludeFolders = {"sub$"};
  auto filter = PathFilter::Compile(patterns);
  ASSERT_TRUE(filter) << filter.Reason();
  EXPECT_FALSE(filter->FolderWanted(sub + sep));
  EXPECT_FALSE(filter->FolderWanted(sub));
  EXPECT_TRUE(filter->FolderWanted(sub + "way" + sep));
  // A pattern that ends in the separator sees one after the name.
  patterns.excludeFolders = {std::string("sub") + (sep == '\\' ? "\\\\" : "/")};
  filter = PathFilter::Compile(patterns);
  ASSERT_TRUE(filter) << filter.Reason();
  EXPECT_FALSE(filter->FolderWanted(sub + sep));
  EXPECT_TRUE(filter->FolderWanted(sub + "way" + sep));

  patterns = {};
  patterns.includeFiles = {"\\.exe$"};
  patterns.excludeFiles = {"skip"};
  filter = PathFilter::Compile(patterns);
  ASSERT_TRUE(filter);
  EXPECT_TRUE(filter->FileWanted(sub + sep + "a.exe"));
  EXPECT_FALSE(filter->FileWanted(sub + sep + "a.txt"));
  EXPECT_FALSE(filter->FileWanted(sub + sep + "skip.exe"));
  patterns.excludeFolders = {"("};
  auto bad = PathFilter::Compile(patterns);
  ASSERT_FALSE(bad);
  EXPECT_EQ(bad.error().reason, "option --exclude-dir: not a valid expression: ( (unmatched ()");
}

}  // namespace
}  // namespace korbu::cli
