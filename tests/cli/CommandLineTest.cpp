#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/JsonText.h"

namespace korbu::cli {
namespace {

TEST(CommandLine, EachOptionClearsOneBox) {
  auto r = ParseCommandLine({"--no-subfolders", "--program-files-only", "--no-heuristic", "--no-archive", "dir"});
  ASSERT_EQ(r.error, "");
  EXPECT_FALSE(r.options.scan.subfolders);
  EXPECT_FALSE(r.options.scan.allFiles);
  EXPECT_FALSE(r.options.scan.heuristic);
  EXPECT_FALSE(r.options.scan.archive);
  EXPECT_EQ(r.options.scan.location, "dir");

  auto defaults = ParseCommandLine({});
  EXPECT_TRUE(defaults.options.scan.subfolders && defaults.options.scan.allFiles &&
              defaults.options.scan.heuristic && defaults.options.scan.archive);
  EXPECT_EQ(defaults.options.scan.location, "");
}

TEST(CommandLine, RejectsWhatItCannotDo) {
  EXPECT_EQ(ParseCommandLine({"--bogus"}).error, "unknown option: --bogus");
  EXPECT_NE(ParseCommandLine({"a", "b"}).error, "");
  EXPECT_NE(ParseCommandLine({"--database"}).error, "");
  EXPECT_NE(ParseCommandLine({"--database="}).error, "");
  EXPECT_NE(ParseCommandLine({"--clean", "--delete"}).error, "");
  EXPECT_NE(ParseCommandLine({"--dry-run"}).error, "");
  auto r = ParseCommandLine({"--database", "db", "--delete", "--dry-run", "--", "--odd-folder"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(*r.options.database, "db");
  EXPECT_EQ(r.options.action, Action::Delete);
  EXPECT_TRUE(r.options.dryRun);
  EXPECT_EQ(r.options.scan.location, "--odd-folder");
}

TEST(JsonText, ReplacesEachBadByteAndKeepsTheRawBytes) {
  EXPECT_TRUE(IsValidUtf8("plain/\xC3\xA9t\xC3\xA9.exe"));
  EXPECT_FALSE(IsValidUtf8("a\xFF" "b"));
  EXPECT_FALSE(IsValidUtf8("\xC0\xAF"));          // overlong '/'
  EXPECT_FALSE(IsValidUtf8("\xED\xA0\x80"));      // surrogate
  EXPECT_FALSE(IsValidUtf8("\xE2\x82"));          // cut short
  EXPECT_EQ(ToUtf8Lossy("a\xFF\xFE" "b"), "a\xEF\xBF\xBD\xEF\xBF\xBD" "b");
  EXPECT_EQ(ToUtf8Lossy("\xE2\x82"), "\xEF\xBF\xBD\xEF\xBF\xBD");
  EXPECT_EQ(Base64(""), "");
  EXPECT_EQ(Base64("f"), "Zg==");
  EXPECT_EQ(Base64("fo"), "Zm8=");
  EXPECT_EQ(Base64("foo"), "Zm9v");
  EXPECT_EQ(Base64(std::string_view("\xFF\x00\x80", 3)), "/wCA");
}

}  // namespace
}  // namespace korbu::cli
