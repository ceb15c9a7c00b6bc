// korbu-scan --move DIR and --copy DIR through the real binary: where the files
// go, that nothing in DIR is replaced, that --undo sets both back, and that a
// folder another user could tamper with is refused before anything is scanned.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <nlohmann/json.hpp>

#include "support/CommandRun.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"

namespace korbu::cli {
namespace {
namespace fs = std::filesystem;

// The own detection alone judges the worm stand-ins: no databases, no processes.
test::CommandRun Scan(const std::string& args, const char* errors = " 2>&1") {
  const std::string command =
      std::string(KORBU_SCAN_EXE) + " --no-memory --no-registry --no-engine --no-cache " + args + errors;
  return test::FinishCommand(::popen(command.c_str(), "r"));
}

unsigned ModeOf(const std::string& path) {
  struct stat st{};
  return ::lstat(path.c_str(), &st) == 0 ? st.st_mode & 07777u : 0u;
}

struct TransferTree {
  test::TempTree tree;
  test::ScopedEnvironment data{"XDG_DATA_HOME", tree.Path("data")};
  std::string worm = tree.Write("scan/worm.exe", test::VariantFile(2));
  std::string clean = tree.Write("scan/notes.txt", "nothing here\n");
  std::string target = tree.MakeDir("kept");
  // A file of that name is already there: it must stay as it is.
  std::string taken = tree.Write("kept/worm.exe", "mine\n");
  std::string Arg(const std::string& path) const { return test::ShellQuote(path); }
};

TEST(CliTransferEndToEnd, MoveKeepsWhatIsThereAndUndoGivesTheFileBack) {
  TransferTree t;
  const test::CommandRun moved = Scan("--move " + t.Arg(t.target) + " " + t.Arg(t.tree.Path("scan")));
  ASSERT_EQ(moved.status, 1) << moved.output;
  const std::string copy = t.target + "/worm.exe.001";
  EXPECT_NE(moved.output.find("  moved to " + copy + "\n"), std::string::npos) << moved.output;
  EXPECT_FALSE(fs::exists(t.worm));
  EXPECT_EQ(test::ReadFileBytes(copy), test::VariantFile(2));
  EXPECT_EQ(ModeOf(copy), 0600u);  // readable by the one who moved it alone
  EXPECT_EQ(test::ReadFileBytes(t.taken), "mine\n");
  EXPECT_TRUE(fs::exists(t.clean));

  const test::CommandRun history = test::RunCommand(std::string(KORBU_SCAN_EXE) + " --history --json");
  ASSERT_EQ(history.status, 0) << history.output;
  const auto doc = nlohmann::json::parse(history.output);
  ASSERT_EQ(doc["actions"].size(), 1u);
  EXPECT_EQ(doc["actions"][0]["action"], "move");

  const test::CommandRun undo = test::RunCommand(std::string(KORBU_SCAN_EXE) + " --undo last");
  ASSERT_EQ(undo.status, 0) << undo.output;
  EXPECT_EQ(test::ReadFileBytes(t.worm), test::VariantFile(2));
  EXPECT_FALSE(fs::exists(copy));
  EXPECT_EQ(test::ReadFileBytes(t.taken), "mine\n");
}

TEST(CliTransferEndToEnd, CopyLeavesTheFileAndUndoRemovesOnlyAnUnchangedCopy) {
  TransferTree t;
  const std::string copy = t.target + "/worm.exe.001";
  for (const bool changeIt : {false, true}) {
    SCOPED_TRACE(changeIt ? "copy changed since" : "copy as made");
    const test::CommandRun copied = Scan("--copy=" + t.Arg(t.target) + " --json " + t.Arg(t.worm), " 2>/dev/null");
    ASSERT_EQ(copied.status, 1) << copied.output;
    const auto report = nlohmann::json::parse(copied.output, nullptr, false);
    ASSERT_TRUE(report.is_object()) << copied.output;
    EXPECT_EQ(report["action"], "copy");
    EXPECT_FALSE(report["action_id"].get<std::string>().empty());
    EXPECT_EQ(test::ReadFileBytes(t.worm), test::VariantFile(2));
    ASSERT_EQ(test::ReadFileBytes(copy), test::VariantFile(2));
    if (changeIt) test::WriteFileBytes(copy, "edited since\n");

    const test::CommandRun undo = test::RunCommand(std::string(KORBU_SCAN_EXE) + " --undo last");
    EXPECT_EQ(undo.status, changeIt ? 1 : 0) << undo.output;
    EXPECT_EQ(fs::exists(copy), changeIt) << undo.output;
    EXPECT_TRUE(fs::exists(t.worm));
    fs::remove(copy);
  }
}

TEST(CliTransferEndToEnd, DryRunAndRefusedFoldersChangeNothing) {
  TransferTree t;
  const test::CommandRun dry = Scan("--move " + t.Arg(t.target) + " --dry-run " + t.Arg(t.worm));
  EXPECT_EQ(dry.status, 1) << dry.output;
  EXPECT_NE(dry.output.find("  would move into " + t.target + "\n"), std::string::npos) << dry.output;

  const std::string open = t.tree.MakeDir("open");
  ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
  const std::string link = t.tree.Path("link");
  fs::create_directory_symlink(t.target, link);
  for (const std::string& folder : {open, link, t.tree.Path("missing"), t.clean}) {
    const test::CommandRun run = Scan("--move " + t.Arg(folder) + " " + t.Arg(t.worm));
    EXPECT_EQ(run.status, 2) << folder << "\n" << run.output;
    EXPECT_NE(run.output.find("cannot use "), std::string::npos) << run.output;
    EXPECT_EQ(run.output.find("FOUND"), std::string::npos) << run.output;  // nothing was scanned
  }
  EXPECT_EQ(test::ReadFileBytes(t.worm), test::VariantFile(2));
  EXPECT_EQ(fs::directory_iterator(t.target)->path().filename(), "worm.exe");
}

// Root writes the files there: another user's folder could have them land
// wherever its owner links the names to.
TEST(CliTransferEndToEnd, AsRootAnotherUsersFolderIsRefused) {
  if (::geteuid() != 0) GTEST_SKIP() << "needs root to make a folder of another user";
  TransferTree t;
  const std::string foreign = t.tree.MakeDir("foreign");
  ASSERT_EQ(::chown(foreign.c_str(), 65534, 65534), 0);
  const test::CommandRun run = Scan("--copy " + t.Arg(foreign) + " " + t.Arg(t.worm));
  EXPECT_EQ(run.status, 2) << run.output;
  EXPECT_NE(run.output.find("cannot use " + foreign + " for --copy"), std::string::npos) << run.output;
  EXPECT_TRUE(fs::is_empty(foreign));
}

}  // namespace
}  // namespace korbu::cli
#endif
