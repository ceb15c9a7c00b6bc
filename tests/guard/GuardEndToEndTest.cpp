// korbu-guard as root on a tmpfs of the test's own, in the test's own mount
// namespace: what it refuses, what it lets run, what it finds when written and
// on a new volume, and that a killed guard leaves no access waiting.

#include <signal.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>

#include "GuardSandbox.h"
#include "support/CommandRun.h"
#include "support/CrcForge.h"

namespace korbu::test {
namespace {

using namespace std::chrono_literals;

constexpr char kEicar[] = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr int kRefused = 100 + EPERM;

void WriteProgram(const std::string& path, const std::string& bytes) {
  WriteFileBytes(path, bytes);
  ::chmod(path.c_str(), 0755);
}

class GuardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (const std::string why = GuardSandbox::Unavailable(); !why.empty()) GTEST_SKIP() << why;
    if (SharedDir().empty()) GTEST_SKIP() << "no ../shared with the test databases";
    sandbox_.emplace();
  }
  std::string Database() const { return SharedDir() + "/engine-test-db"; }
  CommandRun Scan(const std::string& args) const {
    return RunCommand(sandbox_->EnvironmentPrefix() + ShellQuote(KORBU_SCAN_EXE) + " " + args + " 2>&1");
  }
  std::optional<GuardSandbox> sandbox_;
};

TEST_F(GuardTest, DetectedProgramsAreRefusedAtExecAndACleanOneRuns) {
  // Written before the guard starts: only their execution is judged.
  const std::string worm = sandbox_->Watched("worm.exe");
  const std::string eicar = sandbox_->Watched("eicar.com");
  const std::string clean = sandbox_->Watched("true");
  WriteProgram(worm, VariantFile(3));
  WriteProgram(eicar, kEicar);
  std::filesystem::copy_file("/bin/true", clean);
  GuardProcess guard(*sandbox_, {"-d", Database(), sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());

  EXPECT_EQ(RunProgram(worm), kRefused);
  EXPECT_EQ(RunProgram(eicar), kRefused);
  EXPECT_EQ(RunProgram(clean), 0);
  // A second start is refused as well: a detection is never kept as clean.
  EXPECT_EQ(RunProgram(worm), kRefused);
  // Reading a detected file that is not started is no business of the guard.
  const pid_t reader = StartOpen(eicar);
  EXPECT_EQ(WaitChild(reader, 5s), 0);

  EXPECT_NE(guard.WaitFor("refused " + eicar + ": Eicar-Test-Signature", 2s), "") << guard.Output();
  const std::string status = guard.Status();
  EXPECT_NE(status.find("refused: 3"), std::string::npos) << status;
  EXPECT_NE(status.find("watching " + sandbox_->Watched()), std::string::npos) << status;
  const CommandRun history = Scan("--history");
  EXPECT_EQ(history.status, 0) << history.output;
  // The worm started twice is one record: a start repeated within a minute floods nothing.
  std::size_t records = 0;
  for (std::size_t at = 0; (at = history.output.find("guard: refused", at)) != std::string::npos; ++at) ++records;
  EXPECT_EQ(records, 2U) << history.output;
  EXPECT_EQ(guard.Terminate(), 0) << guard.Output();
  EXPECT_NE(guard.Status().find("not running"), std::string::npos);
}

TEST_F(GuardTest, EicarWrittenIsFoundWithinASecondAndQuarantinedForUndo) {
  GuardProcess guard(*sandbox_, {"--quarantine", "-d", Database(), sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());
  const std::string eicar = sandbox_->Watched("dropped/eicar.txt");
  const auto closed = std::chrono::steady_clock::now();
  WriteFileBytes(eicar, kEicar);
  const std::string line = guard.WaitFor("found " + eicar, 1s);
  ASSERT_NE(line, "") << guard.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - closed, 1s);
  EXPECT_NE(line.find("(written), quarantined as action "), std::string::npos) << line;
  EXPECT_FALSE(std::filesystem::exists(eicar));

  const std::size_t at = line.find("--undo ");
  ASSERT_NE(at, std::string::npos) << line;
  const std::string id = line.substr(at + 7, line.find(' ', at + 7) - at - 7);
  const CommandRun undo = Scan("--undo " + ShellQuote(id));
  EXPECT_EQ(undo.status, 0) << undo.output;
  // Written back by the undo, it is found again but left where the user wants it.
  EXPECT_NE(guard.WaitFor("left in place: given back by the undo of action " + id, 2s), "") << guard.Output();
  EXPECT_EQ(ReadFileBytes(eicar), kEicar);
  // A clean file written beside it is left alone.
  WriteFileBytes(sandbox_->Watched("dropped/notes.txt"), "nothing to see");
  EXPECT_EQ(guard.Terminate(), 0);
  EXPECT_TRUE(std::filesystem::exists(sandbox_->Watched("dropped/notes.txt")));
  EXPECT_EQ(guard.Output().find("notes.txt"), std::string::npos) << guard.Output();
}

TEST_F(GuardTest, ANewVolumeIsScannedAndItsProgramsGuarded) {
  // The stick's content is there before it is mounted where volumes appear.
  const std::string stick = sandbox_->Path("stick");
  sandbox_->MountTmpfs(stick);
  WriteProgram(stick + "/autorun/worm.exe", VariantFile(5));
  WriteFileBytes(stick + "/photo.jpg", "not a program");
  const std::string media = sandbox_->Path("media");
  std::filesystem::create_directories(media);
  GuardProcess guard(*sandbox_, {"--removable", "--mount-folder", media});
  ASSERT_TRUE(guard.Ready());

  sandbox_->BindMount(stick, media + "/STICK");
  const std::string worm = media + "/STICK/autorun/worm.exe";
  EXPECT_NE(guard.WaitFor("found " + worm, 5s), "") << guard.Output();
  EXPECT_NE(guard.Output().find("(on a new volume)"), std::string::npos) << guard.Output();
  EXPECT_EQ(RunProgram(worm), kRefused);
  EXPECT_EQ(guard.Terminate(), 0);
}

TEST_F(GuardTest, AWindowsWormStartedWithWineIsRefusedWhenWineOpensIt) {
  if (RunCommand("command -v wine >/dev/null 2>&1").status != 0) GTEST_SKIP() << "Wine is not installed";
  // A prefix of the test's own that Wine does not stop to update.
  const std::string prefix = sandbox_->Path("prefix");
  std::filesystem::create_directories(prefix + "/drive_c/windows/system32");
  std::filesystem::create_directories(prefix + "/dosdevices");
  std::filesystem::create_symlink("../drive_c", prefix + "/dosdevices/c:");
  WriteFileBytes(prefix + "/.update-timestamp", "disable\n");
  const std::string worm = sandbox_->Watched("games/worm.exe");
  WriteFileBytes(worm, VariantFile(7));
  GuardProcess guard(*sandbox_, {sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());

  const std::string env = sandbox_->EnvironmentPrefix() + "WINEPREFIX=" + ShellQuote(prefix) + " WINEDEBUG=-all ";
  const CommandRun wine = RunCommand(env + "timeout 60 wine " + ShellQuote(worm) + " 2>&1");
  (void)RunCommand(env + "wineserver -k 2>&1");
  EXPECT_NE(wine.status, 0) << wine.output;
  EXPECT_NE(guard.WaitFor("refused " + worm + ": ", 2s), "") << guard.Output() << wine.output;
  EXPECT_EQ(guard.Terminate(), 0);
}

TEST_F(GuardTest, ProgramsWithoutAWholeVerdictInTimeRunAndAreReported) {
  std::string program = ReadFileBytes("/bin/true");
  // Past the engine's 10 MB limit: judged in part, let go at once.
  const std::string huge = sandbox_->Watched("huge-tool");
  program.resize(16 << 20, 'x');
  WriteProgram(huge, program);
  // 8 MB take the engine far longer than the 10 ms allowed here.
  const std::string big = sandbox_->Watched("big-tool");
  program.resize(8 << 20);
  WriteProgram(big, program);
  GuardProcess guard(*sandbox_, {"--timeout", "10", "-d", Database(), sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());
  EXPECT_EQ(RunProgram(huge), 0);
  EXPECT_NE(guard.WaitFor("let go unjudged " + huge + ": over the engine's limit maxfilesize", 2s), "")
      << guard.Output();
  EXPECT_EQ(RunProgram(big), 0);
  EXPECT_NE(guard.WaitFor("let go unjudged " + big + ": no verdict in time", 2s), "") << guard.Output();
  EXPECT_NE(guard.Status().find("let go unjudged: 2"), std::string::npos) << guard.Status();
  EXPECT_EQ(guard.Terminate(), 0);
}

TEST_F(GuardTest, AKilledGuardLeavesNoAccessWaiting) {
  const std::string file = sandbox_->Watched("letter.txt");
  WriteFileBytes(file, "dear reader");
  GuardProcess guard(*sandbox_, {sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());
  // A stopped guard answers nothing: the open waits for it...
  ASSERT_EQ(::kill(guard.Pid(), SIGSTOP), 0);
  const pid_t opener = StartOpen(file);
  EXPECT_EQ(WaitChild(opener, 300ms), -1);
  // ...until the kernel closes the dead guard's group, which lets it go.
  guard.Kill();
  EXPECT_NE(guard.Status().find("not running (it ended without stopping"), std::string::npos) << guard.Status();
  const int opened = WaitChild(opener, 5s);
  if (opened == -1) {
    ::kill(opener, SIGKILL);
    (void)WaitChild(opener, 5s);
  }
  EXPECT_EQ(opened, 0);
}

}  // namespace
}  // namespace korbu::test
