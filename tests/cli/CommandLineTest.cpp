#include <gtest/gtest.h>

#include "cli/CommandLine.h"
#include "cli/DisplayText.h"
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
  EXPECT_EQ(r.options.paths, (std::vector<std::string>{"dir"}));

  auto defaults = ParseCommandLine({});
  EXPECT_TRUE(defaults.options.scan.subfolders && defaults.options.scan.allFiles &&
              defaults.options.scan.heuristic && defaults.options.scan.archive);
  EXPECT_EQ(defaults.options.paths, (std::vector<std::string>{"."}));  // as clamscan
  EXPECT_EQ(defaults.options.maxFileSize, 102400u);
}

TEST(CommandLine, RejectsWhatItCannotDo) {
  EXPECT_EQ(ParseCommandLine({"--bogus"}).error, "unknown option: --bogus");
  EXPECT_NE(ParseCommandLine({"a", ""}).error, "");  // an empty path names nothing
  EXPECT_NE(ParseCommandLine({"--max-filesize", "4G"}).error, "");
  EXPECT_NE(ParseCommandLine({"--max-filesize=12X"}).error, "");
  EXPECT_NE(ParseCommandLine({"--exclude"}).error, "");
  EXPECT_NE(ParseCommandLine({"--database"}).error, "");
  EXPECT_NE(ParseCommandLine({"-j", "0"}).error, "");
  EXPECT_NE(ParseCommandLine({"--jobs=99999999999"}).error, "");
  EXPECT_NE(ParseCommandLine({"--max-files=0", "x"}).error, "");
  EXPECT_NE(ParseCommandLine({"--max-recursion=99999999999999999999", "x"}).error, "");
  EXPECT_EQ(ParseCommandLine({"--max-recursion", "3", "x"}).options.maxRecursion, 3);
  EXPECT_EQ(ParseCommandLine({"-j", "3"}).options.jobs, 3u);
  EXPECT_NE(ParseCommandLine({"--database="}).error, "");
  EXPECT_NE(ParseCommandLine({"--clean", "--delete"}).error, "");
  EXPECT_NE(ParseCommandLine({"--move=q", "--delete", "x"}).error, "");
  EXPECT_NE(ParseCommandLine({"--copy", "q", "--move", "q", "x"}).error, "");
  EXPECT_EQ(ParseCommandLine({"--move", "q", "--dry-run", "--move=r", "x"}).options.targetFolder, "r");
  EXPECT_NE(ParseCommandLine({"--dry-run"}).error, "");
  // A value that ends the command line was more likely meant as the PATH.
  EXPECT_NE(ParseCommandLine({"--exclude-dir", "/home/me"}).error, "");
  EXPECT_NE(ParseCommandLine({"--tempdir", "/home/me/tmp"}).error, "");
  EXPECT_NE(ParseCommandLine({"--copy", "/home/me"}).error, "");
  // Values that are no folder to scan leave the current folder scanned, as clamscan does.
  for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
           {"-rl", "scan.log"}, {"-d", "/var/lib/clamav"}, {"-j", "2"}, {"--max-filesize", "1M"}}) {
    const auto parsed = ParseCommandLine(args);
    EXPECT_EQ(parsed.error, "") << args[0];
    EXPECT_EQ(parsed.options.paths, (std::vector<std::string>{"."})) << args[0];
  }
  EXPECT_EQ(ParseCommandLine({"--exclude-dir=/home/me"}).options.paths, (std::vector<std::string>{"."}));
  EXPECT_EQ(ParseCommandLine({"-l", "scan.log", "--"}).options.paths, (std::vector<std::string>{"."}));
  EXPECT_TRUE(ParseCommandLine({"--history"}).options.paths.empty());
  EXPECT_EQ(ParseCommandLine({"-", "a"}).options.paths, (std::vector<std::string>{"-", "a"}));
  // A mounted Windows runs nothing, and its users' folders stand for the PATH.
  const auto rescue = ParseCommandLine({"--windows", "/mnt/windows"});
  EXPECT_TRUE(rescue.error.empty() && rescue.options.paths.empty() && !rescue.options.memory) << rescue.error;
  EXPECT_NE(ParseCommandLine({"--undo", "last", "--windows", "/mnt/windows"}).error, "");
  auto r = ParseCommandLine({"--database", "db", "--delete", "--dry-run", "--", "--odd-folder"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.databases, (std::vector<std::string>{"db"}));
  EXPECT_EQ(r.options.action, Action::Delete);
  EXPECT_TRUE(r.options.dryRun);
  EXPECT_EQ(r.options.paths, (std::vector<std::string>{"--odd-folder"}));
}

TEST(CommandLine, EngineSwitchesSetAndClearTheirBitsLastOneWinning) {
  auto r = ParseCommandLine({"--alert-broken=no", "--scan-html", "--scan-mail=no", "--scan-mail=yes", "--scan-archive=no", "x"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.scan.engineBitsAdded, 0x10 | 0x2);
  EXPECT_EQ(r.options.scan.engineBitsRemoved, 0x40);
  EXPECT_FALSE(r.options.scan.archive);
  EXPECT_NE(ParseCommandLine({"--alert-broken=maybe", "x"}).error, "");
  EXPECT_NE(ParseCommandLine({"--scan-htmlx", "x"}).error, "");
  // The formats beyond the option word: all on, each switched off alone.
  const auto parse = ParseCommandLine({"--scan-pdf=no", "--scan-elf=no", "--scan-elf", "--max-scansize", "2M", "x"});
  ASSERT_EQ(parse.error, "");
  EXPECT_EQ(parse.options.engineParse & kEngineParsePdf, 0u);
  EXPECT_NE(parse.options.engineParse & kEngineParseElf, 0u);
  EXPECT_NE(parse.options.engineParse & kEngineParseXmlDocs, 0u);
  EXPECT_EQ(parse.options.maxScanSize, 2u << 20);
  EXPECT_NE(ParseCommandLine({"--scan-pdf=maybe", "x"}).error, "");
  EXPECT_NE(ParseCommandLine({"--max-scansize", "0", "x"}).error, "");
}

TEST(CommandLine, ClamscanSpellingsAndSizes) {
  auto r = ParseCommandLine({"-d", "db", "-l", "log", "--max-filesize=2M", "--exclude", "x;y", "--include-dir=^/a",
                             "--quiet", "--no-summary", "a;b", " lead", "<c"});
  ASSERT_EQ(r.error, "");
  EXPECT_EQ(r.options.databases, (std::vector<std::string>{"db"}));
  EXPECT_EQ(*r.options.logFile, "log");
  EXPECT_EQ(r.options.maxFileSize, 2u << 20);
  EXPECT_EQ(r.options.patterns.excludeFiles, (std::vector<std::string>{"x;y"}));
  EXPECT_EQ(r.options.patterns.includeFolders, (std::vector<std::string>{"^/a"}));
  EXPECT_TRUE(r.options.quiet && r.options.noSummary);
  EXPECT_EQ(r.options.paths, (std::vector<std::string>{"a;b", " lead", "<c"}));
  EXPECT_TRUE(ParseCommandLine({"-V"}).options.version);
  // "clamscan -r -i" habits: the later of -r and --no-subfolders holds.
  auto habits = ParseCommandLine({"--no-subfolders", "-r", "-i", "--infected", "dir"});
  ASSERT_EQ(habits.error, "");
  EXPECT_TRUE(habits.options.scan.subfolders);
  EXPECT_FALSE(ParseCommandLine({"--recursive", "--no-subfolders"}).options.scan.subfolders);
  // Short options run together as getopt takes them; the value is the rest or the next.
  auto cluster = ParseCommandLine({"--no-subfolders", "-ri", "-j4", "-rd", "db", "-l-x", "dir"});
  ASSERT_EQ(cluster.error, "");
  EXPECT_TRUE(cluster.options.scan.subfolders);
  EXPECT_EQ(cluster.options.jobs, 4u);
  EXPECT_EQ(cluster.options.databases, (std::vector<std::string>{"db"}));
  EXPECT_EQ(*cluster.options.logFile, "-x");
  EXPECT_EQ(cluster.options.paths, (std::vector<std::string>{"dir"}));
  EXPECT_EQ(ParseCommandLine({"-rx"}).error, "unknown option: -rx");
  EXPECT_NE(ParseCommandLine({"-rj"}).error, "");
  EXPECT_NE(ParseCommandLine({"-j0"}).error, "");
  EXPECT_EQ(ParseSize("0"), 0u);
  EXPECT_EQ(ParseSize("100K"), 102400u);
  EXPECT_EQ(ParseSize("4095M"), 4095u << 20);
  EXPECT_EQ(ParseSize("4294967295"), 4294967295u);
  EXPECT_FALSE(ParseSize("4294967296"));
  EXPECT_FALSE(ParseSize("K"));
  EXPECT_FALSE(ParseSize("1KB"));
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

TEST(DisplayText, EveryNamePrintsOnOneLineAndNoTwoAlike) {
  // Controls, separators and bidirectional controls as their bytes; bad UTF-8 too.
  EXPECT_EQ(ReadableFileName("/d/\xC3\xA9t\xC3\xA9\xFF\n\x1B[2J.exe"), "/d/\xC3\xA9t\xC3\xA9\\xFF\\x0A\\x1B[2J.exe");
  EXPECT_EQ(ReadableFileName("a\xC2\x85" "b\xC2\x9B" "c\x7F"), "a\\xC2\\x85b\\xC2\\x9Bc\\x7F");
  EXPECT_EQ(ReadableFileName("\xE2\x80\xA8\xE2\x80\xA9\xE2\x80\xAE" "exe.txt\xE2\x81\xA6\xE2\x80\x8F"),
            "\\xE2\\x80\\xA8\\xE2\\x80\\xA9\\xE2\\x80\\xAEexe.txt\\xE2\\x81\\xA6\\xE2\\x80\\x8F");
  EXPECT_EQ(ReadableFileName("\xE2\x80\xA7\xE2\x81\xAA"), "\xE2\x80\xA7\xE2\x81\xAA");  // neighbours stay
  // A lone surrogate of a Windows name (its WTF-8) is no character to show.
  EXPECT_EQ(ReadableFileName("\xE4\xB8\xAD\xED\xA0\x80"), "\xE4\xB8\xAD\\xED\\xA0\\x80");
  // A backslash stays single where it cannot start an escape: paths read as usual.
  EXPECT_EQ(ReadableFileName("C:\\Windows\\xampp\\a.exe"), "C:\\Windows\\xampp\\a.exe");
  EXPECT_EQ(ReadableFileName("C:\\x64\\a.exe"), "C:\\\\x64\\a.exe");
  EXPECT_EQ(ReadableFileName("d\\x0A"), "d\\\\x0A");
  EXPECT_EQ(ReadableFileName("d\\\n"), "d\\\\\\x0A");
  // Names that an escape could confuse print apart.
  const std::vector<std::string> names = {"a\n", "a\\x0A", "a\\\n", "a\\\\x0A", "a\\", "a\\\\", "a\\\\\\",
                                          "a\xE2\x80\xAE", "a\\xE2\\x80\\xAE", "a\\n", "a\\\\n", "a\\xe2", "a\\\\xe2"};
  for (std::size_t i = 0; i < names.size(); ++i) {
    for (std::size_t k = i + 1; k < names.size(); ++k) {
      EXPECT_NE(ReadableFileName(names[i]), ReadableFileName(names[k])) << i << " " << k;
    }
  }
  // Registry names are UTF-8 everywhere; a lone surrogate (WTF-8) shows its bytes.
  EXPECT_EQ(ReadableRowName("HKEY_CURRENT_USER\\Run\\caf\xC3\xA9 \xE4\xB8\xAD \xED\xA0\x80"),
            "HKEY_CURRENT_USER\\Run\\caf\xC3\xA9 \xE4\xB8\xAD \\xED\\xA0\\x80");
}

}  // namespace
}  // namespace korbu::cli
