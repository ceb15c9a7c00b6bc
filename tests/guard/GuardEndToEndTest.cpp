// korbu-guard as root on a tmpfs of the test's own, in the test's own mount
// namespace: what it refuses, what it lets run, what it finds when written and
// on a new volume, and that a killed guard leaves no access waiting.

#include <fcntl.h>
#include <signal.h>
#include <unistd.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <gtest/gtest.h>
#include <thread>

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

// Writes over the file's first bytes: the same inode, neither truncated nor replaced.
void WriteInPlace(const std::string& path, const std::string& bytes) {
  const int fd = ::open(path.c_str(), O_WRONLY);
  ASSERT_GE(fd, 0) << path;
  EXPECT_EQ(::pwrite(fd, bytes.data(), bytes.size(), 0), static_cast<ssize_t>(bytes.size()));
  ::close(fd);
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

TEST_F(GuardTest, FilesJudgedCleanAreLeftToTheKernelUntilTheyChangeThroughAnyNameOrMount) {
  const std::string tool = sandbox_->Watched("tools/tool.exe");
  const std::string letter = sandbox_->Watched("letter.txt");
  const std::string program = sandbox_->Watched("true");
  const std::string theirs = sandbox_->Watched("theirs.exe");
  WriteFileBytes(tool, MzFile(150, 11));
  WriteFileBytes(letter, "dear reader");
  std::filesystem::copy_file("/bin/true", program);
  // Another user's file could change through a shared mapping, which the kernel
  // does not count as a change: the guard answers for it every time.
  WriteFileBytes(theirs, MzFile(150, 12));
  ASSERT_EQ(::chown(theirs.c_str(), 65534, 65534), 0);
  GuardProcess guard(*sandbox_, {"-d", Database(), sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());
  // Seen twice: judged, then known to the verdict cache.
  for (int i = 0; i < 2; ++i) {
    for (const std::string& path : {tool, letter, theirs}) EXPECT_EQ(WaitChild(StartOpen(path), 5s), 0) << path;
    EXPECT_EQ(RunProgram(program), 0);
  }

  // A stopped guard answers nothing: only what the kernel no longer asks about goes on.
  ASSERT_EQ(::kill(guard.Pid(), SIGSTOP), 0);
  EXPECT_EQ(WaitChild(StartOpen(tool), 5s), 0);
  EXPECT_EQ(WaitChild(StartOpen(letter), 5s), 0);
  EXPECT_EQ(WaitChild(StartProgram(program), 5s), 0);
  const pid_t asking = StartOpen(theirs);
  EXPECT_EQ(WaitChild(asking, 300ms), -1);
  ASSERT_EQ(::kill(guard.Pid(), SIGCONT), 0);
  EXPECT_EQ(WaitChild(asking, 5s), 0);

  // Each is changed into a detected one through another way to the same inode:
  // a hard link in another folder, a second mount of the volume that the guard
  // does not watch, the file itself; the next start of each is refused.
  const std::string link = sandbox_->Watched("elsewhere/link.exe");
  std::filesystem::create_directories(sandbox_->Watched("elsewhere"));
  ASSERT_EQ(::link(tool.c_str(), link.c_str()), 0);
  WriteInPlace(link, VariantFile(3));
  const std::string again = sandbox_->Path("again");
  sandbox_->BindMount(sandbox_->Watched(), again);
  WriteInPlace(again + "/letter.txt", VariantFile(5));
  WriteFileBytes(program, kEicar);  // truncated and written, the same inode
  EXPECT_EQ(WaitChild(StartOpen(tool), 5s), kRefused);
  EXPECT_EQ(WaitChild(StartOpen(letter), 5s), kRefused);
  EXPECT_EQ(RunProgram(program), kRefused);
  EXPECT_NE(guard.WaitFor("refused " + program + ": Eicar-Test-Signature", 2s), "") << guard.Output();
  EXPECT_EQ(guard.Terminate(), 0) << guard.Output();
}

TEST_F(GuardTest, WormsWrittenInABurstOfNewFilesAreRefusedAsSoonAsTheyAreClosed) {
  GuardProcess guard(*sandbox_, {"-d", Database(), sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());
  // New files come close together: their folders, then the mount, stop asking
  // at plain opens and ask at reads. A worm among them is started, or read as
  // Wine reads an image, the moment it is closed.
  for (int i = 0; i < 600; ++i) {
    const std::string folder = "burst/" + std::to_string(i / 100) + "/";
    WriteFileBytes(sandbox_->Watched(folder + std::to_string(i) + ".txt"), "a new file " + std::to_string(i));
    if (i % 200 != 199) continue;
    const std::string worm = sandbox_->Watched(folder + "worm" + std::to_string(i) + ".exe");
    WriteProgram(worm, VariantFile(3 + i / 200));
    EXPECT_EQ(RunProgram(worm), kRefused) << worm;
    const std::string image = sandbox_->Watched(folder + "game" + std::to_string(i) + ".exe");
    WriteFileBytes(image, VariantFile(3 + i / 200));
    EXPECT_EQ(WaitChild(StartRead(image), 5s), kRefused) << image;
  }
  const std::string last = sandbox_->Watched("burst/5/game599.exe");
  EXPECT_NE(guard.WaitFor("refused " + last, 2s), "") << guard.Output();
  // Once the burst is over, plain opens ask again.
  std::this_thread::sleep_for(2s);
  EXPECT_EQ(WaitChild(StartOpen(last), 5s), kRefused) << last;
  EXPECT_EQ(guard.Terminate(), 0);
}

TEST_F(GuardTest, EicarClosedBehindABurstOfWrittenFilesIsFoundWithinASecond) {
  GuardProcess guard(*sandbox_, {"-d", Database(), sandbox_->Watched()});
  ASSERT_TRUE(guard.Ready());
  for (int i = 0; i < 3000; ++i) {
    WriteFileBytes(sandbox_->Watched("burst/f" + std::to_string(i / 100) + "/" + std::to_string(i) + ".txt"),
                   "a file of the burst " + std::to_string(i));
  }
  const std::string eicar = sandbox_->Watched("burst/eicar.txt");
  const auto closed = std::chrono::steady_clock::now();
  WriteFileBytes(eicar, kEicar);
  EXPECT_NE(guard.WaitFor("found " + eicar, 1s), "") << guard.Output();
  EXPECT_LT(std::chrono::steady_clock::now() - closed, 1s);
  EXPECT_EQ(guard.Terminate(), 0);
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
