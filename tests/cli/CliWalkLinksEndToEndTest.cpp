// The walk's links and file systems as clamscan's options set them, through the
// real binary: --follow-dir-symlinks, --follow-file-symlinks (0, 1, 2) and
// --cross-fs. What a followed link leads to is listed by its own name, and a
// loop of links ends.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <cstdio>
#include <filesystem>
#include <string>

#include "support/CommandRun.h"
#include "support/CrcForge.h"
#include "support/PrivateMounts.h"
#include "support/TempTree.h"

namespace korbu::cli {
namespace {
namespace fs = std::filesystem;

std::string Command(const std::string& args) {
  return std::string(KORBU_SCAN_EXE) + " --no-memory --no-registry --no-engine --no-cache --no-summary " + args;
}

test::CommandRun Scan(const std::string& args) { return test::RunCommand(Command(args)); }

int Count(const std::string& text, const std::string& what) {
  int n = 0;
  for (std::size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1)) ++n;
  return n;
}

TEST(CliWalkLinksEndToEnd, LinksAreFollowedAsAskedAndLoopsEnd) {
  test::TempTree t;
  const std::string inFolder = t.Write("outside/deep/a.exe", test::VariantFile(3));
  const std::string linkedFile = t.Write("other/b.exe", test::VariantFile(4));
  const std::string scan = t.MakeDir("scan");
  fs::create_directory_symlink("../outside", scan + "/dirlink");
  fs::create_symlink("../other/b.exe", scan + "/filelink.exe");
  fs::create_directory_symlink("..", scan + "/up");           // a folder above
  fs::create_directory_symlink("../scan", t.Path("outside/back"));  // and a circle through two links
  const std::string path = " " + test::ShellQuote(scan);

  struct Case {
    std::string options;
    bool folderFile;
    bool linkedFileFound;
  };
  for (const Case& c : {Case{"", false, false}, Case{"--follow-dir-symlinks=2", true, false},
                        Case{"--follow-file-symlinks 2", false, true},
                        Case{"--follow-dir-symlinks=2 --follow-file-symlinks=2", true, true}}) {
    SCOPED_TRACE(c.options);
    const test::CommandRun run = Scan(c.options + path);
    EXPECT_EQ(run.status, c.folderFile || c.linkedFileFound ? 1 : 0) << run.output;
    EXPECT_EQ(Count(run.output, inFolder + ": "), c.folderFile ? 1 : 0) << run.output;
    EXPECT_EQ(Count(run.output, linkedFile + ": "), c.linkedFileFound ? 1 : 0) << run.output;
    EXPECT_EQ(run.output.find("link.exe:"), std::string::npos) << run.output;  // listed by its own name
  }

  // Named as PATH a link is followed unless 0 says otherwise; then it is said, not an error.
  EXPECT_EQ(Scan(test::ShellQuote(scan + "/dirlink")).status, 1);
  const test::CommandRun notFollowed = Scan("--follow-dir-symlinks=0 " + test::ShellQuote(scan + "/dirlink"));
  EXPECT_EQ(notFollowed.status, 0) << notFollowed.output;
  EXPECT_NE(notFollowed.output.find("a link, not followed"), std::string::npos) << notFollowed.output;
  EXPECT_EQ(Scan("--follow-file-symlinks=0 " + test::ShellQuote(scan + "/filelink.exe")).status, 0);
  EXPECT_EQ(Scan("--follow-file-symlinks=3" + path).status, 2);
  EXPECT_EQ(Scan("--cross-fs=maybe" + path).status, 2);
}

TEST(CliWalkLinksEndToEnd, CrossFsNoStaysOnThePathsFileSystem) {
  if (const std::string why = test::PrivateMountsUnavailable(); !why.empty()) GTEST_SKIP() << why;
  test::TempTree t;
  const std::string scan = t.MakeDir("scan");
  const std::string mounted = t.MakeDir("scan/mounted");
  const std::string below = t.Write("below.exe", test::VariantFile(5));
  const std::string inside = mounted + "/below.exe";
  const std::string script = "mount -t tmpfs none " + test::ShellQuote(mounted) + "\ncp " + test::ShellQuote(below) +
                             " " + test::ShellQuote(inside) + "\n" + Command(test::ShellQuote(scan)) +
                             " || true\necho ---\n" + Command("--cross-fs=no " + test::ShellQuote(scan)) + " || true\n";
  const test::ScriptRun run = test::RunWithPrivateMounts(script);
  ASSERT_EQ(run.status, 0) << run.output;
  const std::size_t split = run.output.find("---\n");
  ASSERT_NE(split, std::string::npos) << run.output;
  EXPECT_NE(run.output.substr(0, split).find(inside + ": "), std::string::npos) << run.output;
  EXPECT_EQ(run.output.substr(split).find(inside), std::string::npos) << run.output;
}

}  // namespace
}  // namespace korbu::cli
#endif
