// The process table over the real system: copies of a small program are started,
// looked for, and killed by their image path.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "ChildProcess.h"
#include "platform/Processes.h"
#include "services/ProcList.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using test::ChildProcess;
using test::TempTree;
using namespace std::chrono_literals;

// Long enough for any loaded machine; a process that is really killed ends at once.
constexpr auto kEndLimit = 20s;

std::string CopySleeper(const TempTree& tree, const std::string& name) {
  std::string path = tree.Path(name);
  fs::copy_file(KORBU_PROCS_SLEEPER, path);
  fs::permissions(path, fs::perms::owner_all);
  return path;
}

ChildProcess StartFrom(const std::string& path, const std::string& threads = "0") {
  return ChildProcess(path, {path, threads});
}

long CountOf(const std::vector<std::string>& paths, const std::string& path) {
  return std::count(paths.begin(), paths.end(), path);
}

// The snapshot entry of a process, or -1.
int IndexOf(const TProcessManager& manager, std::uint32_t id) {
  const auto& ids = manager.ProcessIds();
  auto found = std::find(ids.begin(), ids.end(), std::to_string(id));
  return found == ids.end() ? -1 : static_cast<int>(found - ids.begin());
}

// Tests about the program's own entry run in a private copy of this test program:
// copies running beside it (parallel tests) share its image path, would be listed
// by that path and would rightly be ended by it.
constexpr const char* kPrivateCopy = "KORBU_PRIVATE_COPY";

bool InPrivateCopy() { return std::getenv(kPrivateCopy) != nullptr; }

void RunInPrivateCopy(const std::string& testName) {
  TempTree tree;
  const std::string copy = tree.Path("scanner");
  fs::copy_file("/proc/self/exe", copy);
  fs::permissions(copy, fs::perms::owner_all);
  ChildProcess probe(copy, {copy, "--gtest_filter=" + testName}, {std::string(kPrivateCopy) + "=1"});
  ASSERT_TRUE(probe.Started());
  EXPECT_EQ(probe.WaitForEnd(kEndLimit * 3), 0) << "the copy was killed or hangs";
  EXPECT_EQ(probe.ExitCode(), 0) << "the test failed in the copy";
}

TEST(ProcessTable, FirstEntryIsTheProgramItselfAndIsNeverListed) {
  if (!InPrivateCopy()) return RunInPrivateCopy("ProcessTable.FirstEntryIsTheProgramItselfAndIsNeverListed");
  TProcessManager manager;
  EXPECT_EQ(manager.LastIndex(), -1);
  ASSERT_TRUE(manager.Refresh());
  ASSERT_GE(manager.LastIndex(), 0);
  const auto count = static_cast<std::size_t>(manager.LastIndex()) + 1;

  const std::string self = fs::canonical("/proc/self/exe").string();
  EXPECT_EQ(manager.ProcessIds()[0], std::to_string(::getpid()));
  EXPECT_EQ(manager.ImagePaths()[0], self);
  // Every other entry is in ascending id order, each id once.
  for (std::size_t i = 2; i < count; ++i) {
    EXPECT_LT(std::stoul(manager.ProcessIds()[i - 1]), std::stoul(manager.ProcessIds()[i]));
  }
  for (std::size_t i = 1; i < count; ++i) EXPECT_NE(manager.ImagePaths()[i], self);

  auto paths = GetProcessPaths();
  ASSERT_TRUE(paths.has_value());
  EXPECT_EQ(CountOf(*paths, self), 0) << "the scanner lists itself";
}

TEST(ProcessTable, ListsStartedProcessesWithImageAndThreads) {
  TempTree tree;
  // The command name the kernel shows comes from the file name: blanks and
  // parentheses in it must not shift the fields that follow.
  std::string odd = CopySleeper(tree, "a) (b c) d");
  std::string plain = CopySleeper(tree, "plain");
  ChildProcess first = StartFrom(odd, "3");
  ChildProcess second = StartFrom(plain);
  ASSERT_TRUE(first.Started() && second.Started());

  auto paths = GetProcessPaths();
  ASSERT_TRUE(paths.has_value());
  EXPECT_EQ(CountOf(*paths, odd), 1);
  EXPECT_EQ(CountOf(*paths, plain), 1);

  // The helper makes its threads after it has started: look until they are there.
  TProcessManager manager;
  std::size_t i = 0;
  const auto until = std::chrono::steady_clock::now() + kEndLimit;
  do {
    ASSERT_TRUE(manager.Refresh());
    int index = IndexOf(manager, first.Id());
    ASSERT_GE(index, 1);
    i = static_cast<std::size_t>(index);
    if (manager.ThreadCounts()[i] == "4") break;
    std::this_thread::sleep_for(10ms);
  } while (std::chrono::steady_clock::now() < until);
  EXPECT_EQ(manager.ImagePaths()[i], odd);
  EXPECT_EQ(manager.ThreadCounts()[i], "4");
  // A child inherits the test's niceness, so both have the same priority.
  EXPECT_EQ(manager.BasePriorities()[i], manager.BasePriorities()[0]);
  int single = IndexOf(manager, second.Id());
  ASSERT_GE(single, 1);
  EXPECT_EQ(manager.ThreadCounts()[static_cast<std::size_t>(single)], "1");
}

TEST(ProcessTable, LimitedToDescendantsListsWhatTheTestStartedEvenWhenOrphaned) {
  TempTree tree;
  const std::string mine = CopySleeper(tree, "mine");
  platform::LimitSnapshotsToDescendants();
  // Started through a shell that ends at once: its parent is gone, it stays ours.
  ASSERT_EQ(std::system(("'" + mine + "' 0 >/dev/null 2>&1 &").c_str()), 0);
  TProcessManager manager;
  const auto until = std::chrono::steady_clock::now() + kEndLimit;
  while (std::chrono::steady_clock::now() < until) {
    ASSERT_TRUE(manager.Refresh());
    if (CountOf(manager.ImagePaths(), mine) == 1) break;
    std::this_thread::sleep_for(10ms);
  }
  EXPECT_EQ(CountOf(manager.ImagePaths(), mine), 1);
  EXPECT_EQ(IndexOf(manager, 1), -1) << "the system's first process is no descendant";
  KillProcessByPath(mine);
}

TEST(KillByPath, EndsEveryProcessOfThatFileAndNothingElse) {
  TempTree tree;
  std::string worm = CopySleeper(tree, "Worm.exe");
  std::string other = CopySleeper(tree, "other.exe");
  ChildProcess a = StartFrom(worm);
  ChildProcess b = StartFrom(worm);
  ChildProcess bystander = StartFrom(other);
  ASSERT_TRUE(a.Started() && b.Started() && bystander.Started());

  // Letter case counts: a path differing only in case ends nothing.
  KillProcessByPath(tree.Path("worm.exe"));
  KillProcessByPath(tree.Path("WORM.EXE"));
  KillProcessByPath("");
  EXPECT_TRUE(a.Running());
  EXPECT_TRUE(b.Running());

  KillProcessByPath(worm);
  EXPECT_EQ(a.WaitForEnd(kEndLimit), SIGKILL);
  EXPECT_EQ(b.WaitForEnd(kEndLimit), SIGKILL);
  EXPECT_TRUE(bystander.Running());
}

// The file whose programs are ended is the one at that path itself: a link put
// in its place, or in place of a folder on its way, leads to no other program.
TEST(EndProcessesOfFile, EndsTheFileAtThePathAndNothingALinkLeadsTo) {
  TempTree tree;
  const std::string bystander = CopySleeper(tree, "sshd");
  tree.MakeDir("worm");
  const std::string worm = CopySleeper(tree, "worm/sshd");
  ChildProcess other = StartFrom(bystander);
  ChildProcess running = StartFrom(worm);
  ASSERT_TRUE(other.Started() && running.Started());

  fs::create_symlink(bystander, tree.Path("link.exe"));
  EXPECT_TRUE(EndProcessesOfFile(tree.Path("link.exe")));
  fs::create_directory_symlink(tree.Path(""), tree.Path("folder"));
  EXPECT_TRUE(EndProcessesOfFile(tree.Path("folder/sshd")));
  EXPECT_TRUE(other.Running());
  EXPECT_TRUE(running.Running());

  EXPECT_TRUE(EndProcessesOfFile(worm));
  EXPECT_EQ(running.WaitForEnd(kEndLimit), SIGKILL);
  EXPECT_TRUE(other.Running());
}

// Asking to end the program's own image must leave the program alive.
TEST(KillByPath, NeverEndsTheScannerItself) {
  if (!InPrivateCopy()) return RunInPrivateCopy("KillByPath.NeverEndsTheScannerItself");
  KillProcessByPath(fs::canonical("/proc/self/exe").string());
  TProcessManager manager;
  manager.KillProcess(std::to_string(::getpid()));
  EXPECT_FALSE(platform::TerminateProcess(platform::CurrentProcessId()));
  EXPECT_FALSE(platform::TerminateProcess(0));
}

TEST(KillByPath, FindsAProcessWhoseFileWasDeleted) {
  TempTree tree;
  std::string worm = CopySleeper(tree, "gone.exe");
  // A file whose name really ends in the kernel's deletion mark keeps it.
  std::string marked = CopySleeper(tree, "kept (deleted)");
  ChildProcess running = StartFrom(worm);
  ChildProcess markedRun = StartFrom(marked);
  ASSERT_TRUE(running.Started() && markedRun.Started());
  fs::remove(worm);

  auto paths = GetProcessPaths();
  ASSERT_TRUE(paths.has_value());
  EXPECT_EQ(CountOf(*paths, worm), 1);
  EXPECT_EQ(CountOf(*paths, worm + " (deleted)"), 0);
  EXPECT_EQ(CountOf(*paths, marked), 1);

  KillProcessByPath(worm);
  EXPECT_EQ(running.WaitForEnd(kEndLimit), SIGKILL);
  EXPECT_TRUE(markedRun.Running());
}

TEST(KillProcess, ChecksTheImageBeforeKilling) {
  TempTree tree;
  std::string path = CopySleeper(tree, "target");
  ChildProcess child = StartFrom(path);
  ASSERT_TRUE(child.Started());

  // An id that now runs another image (as after reuse of the id) is spared.
  EXPECT_EQ(platform::TerminateProcessRunning(child.Id(), path + "-other").Reason(),
            "the process runs another program now");
  EXPECT_FALSE(platform::TerminateProcessRunning(child.Id(), ""));
  EXPECT_TRUE(child.Running());

  TProcessManager manager;
  manager.KillProcess(" " + std::to_string(child.Id()));
  manager.KillProcess(std::to_string(child.Id()) + "x");
  manager.KillProcess("-" + std::to_string(child.Id()));
  EXPECT_TRUE(child.Running());

  ASSERT_TRUE(manager.Refresh());
  manager.KillProcess(std::to_string(child.Id()));
  EXPECT_EQ(child.WaitForEnd(kEndLimit), SIGKILL);
  // Gone now, and reaped: a second kill fails, in the system's words.
  EXPECT_EQ(platform::TerminateProcessRunning(child.Id(), path).Reason(), "No such process");
}

}  // namespace
}  // namespace korbu
