// korbu-scan --clean, --delete, --history and --undo through the real binary: on a
// handwritten Wine prefix, and run as root over a tree an unprivileged user owns
// and attacks while the undo runs.
#include <gtest/gtest.h>

#ifndef _WIN32
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <poll.h>
#include <signal.h>
#include <sys/inotify.h>
#include <stdio.h>  // renameat2
#include <sys/mman.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <map>
#include <new>
#include <nlohmann/json.hpp>

#include "repair/RegistryValues.h"
#include "scan/RegistryLocations.h"
#include "support/CommandRun.h"
#include "support/CrcForge.h"
#include "support/ScopedEnvironment.h"
#include "support/TempTree.h"
#include "support/WinePrefixFixture.h"
#include "platform/SystemFactory.h"

namespace korbu::cli {
namespace {
namespace fs = std::filesystem;

struct ProgramRun {
  int status = -1;
  std::string out;
};

FILE* Start(const std::string& args) { return ::popen((std::string(KORBU_SCAN_EXE) + " " + args + " 2>&1").c_str(), "r"); }

ProgramRun Finish(FILE* pipe) {
  test::CommandRun run = test::FinishCommand(pipe);
  return {run.status, std::move(run.output)};
}

// The prefix and the data folder reach the program through the environment.
ProgramRun KorbuScan(const std::string& args) { return Finish(Start(args)); }

std::string Quoted(const std::string& path) { return "'" + path + "'"; }

std::string TaskMgr() {
  const auto value = CurrentRegistryValue(
      *platform::DefaultWindowsSystem(), HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System\\DisableTaskMgr");
  return value ? std::to_string(value->type) + ":" + value->data : "(none)";
}

TEST(CliUndoEndToEnd, CleanIsListedAndUndoneByUndoLast) {
  test::WinePrefixFixture prefix(
      "", "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Policies\\\\System] 1700000000\n"
          "\"DisableTaskMgr\"=dword:00000001\n\n");
  test::TempTree home;
  test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
  const std::string worm = prefix.WriteC("windows/ShellNew/sempalong.exe", test::VariantFile(1));
  const std::string before = TaskMgr();

  const ProgramRun clean = KorbuScan("--no-memory --no-registry --clean '" + prefix.DriveC("windows/ShellNew") + "'");
  ASSERT_EQ(clean.status, 1) << clean.out;
  EXPECT_NE(clean.out.find("Recorded as action "), std::string::npos) << clean.out;
  EXPECT_FALSE(std::filesystem::exists(worm));
  EXPECT_NE(TaskMgr(), before);

  const ProgramRun history = KorbuScan("--history --json");
  ASSERT_EQ(history.status, 0) << history.out;
  const auto doc = nlohmann::json::parse(history.out);
  ASSERT_EQ(doc["actions"].size(), 1u);
  EXPECT_EQ(doc["actions"][0]["action"], "clean");
  EXPECT_EQ(doc["actions"][0]["rows"][0]["file"], worm);
  EXPECT_GT(doc["actions"][0]["changes"].get<std::int64_t>(), 16);
  EXPECT_TRUE(doc["actions"][0]["undone"].is_null());
  // One action with each change it made, as its journal tells them.
  const std::string id = doc["actions"][0]["id"];
  const ProgramRun one = KorbuScan("--history " + id);
  EXPECT_EQ(one.status, 0) << one.out;
  EXPECT_NE(one.out.find("\n  delete " + worm + "\n"), std::string::npos) << one.out;
  const auto oneDoc = nlohmann::json::parse(KorbuScan("--history --json " + id).out);
  ASSERT_EQ(oneDoc["actions"].size(), 1u);
  EXPECT_EQ(oneDoc["actions"][0]["made"].size(), doc["actions"][0]["changes"].get<std::size_t>());
  EXPECT_EQ(KorbuScan("--history 19700101-000000-00").status, 2);

  const ProgramRun undo = KorbuScan("--undo last");
  EXPECT_EQ(undo.status, 0) << undo.out;
  EXPECT_EQ(test::ReadFileBytes(worm), test::VariantFile(1));
  EXPECT_EQ(TaskMgr(), before);
  EXPECT_NE(KorbuScan("--history").out.find(", undone "), std::string::npos);
  EXPECT_EQ(KorbuScan("--undo last").status, 2);  // nothing left to undo
  EXPECT_EQ(KorbuScan("--undo last --clean").status, 2);
  EXPECT_EQ(KorbuScan("--history > /dev/full").status, 2);  // an output that cannot be written
}

// The worm a Run value starts lies outside the folder scanned: it is a row of
// its own, and Clean removes it with the value; undo brings both back.
TEST(CliUndoEndToEnd, CleanRemovesTheProgramARunValueStarts) {
  test::WinePrefixFixture prefix(
      "", "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n\"Bron-Spizaetus\"=" +
              test::WineRegString("C:\\windows\\ShellNew\\sempalong.exe") + "\n\n");
  test::TempTree home;
  test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
  const std::string worm = prefix.WriteC("windows/ShellNew/sempalong.exe", test::VariantFile(3));
  const RegistryValueLocation value{HKEY_CURRENT_USER, "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run",
                                    "Bron-Spizaetus"};
  const std::string location = RegistryLocationText(value);

  const ProgramRun clean = KorbuScan("--no-memory --clean " + Quoted(home.MakeDir("scanned")));
  ASSERT_EQ(clean.status, 1) << clean.out;
  EXPECT_NE(clean.out.find(location + ": Brontok-4 FOUND (This object was cleaned!)"), std::string::npos) << clean.out;
  EXPECT_NE(clean.out.find(worm + ": Brontok-4 FOUND (This object was cleaned!)"), std::string::npos) << clean.out;
  const std::string found = "\n" + worm + ": Brontok-4 FOUND\n";
  EXPECT_EQ(clean.out.find(found, clean.out.find(found) + 1), std::string::npos) << "listed twice:\n" << clean.out;
  EXPECT_FALSE(fs::exists(worm));
  EXPECT_FALSE(CurrentRegistryValue(*platform::DefaultWindowsSystem(), value));

  const ProgramRun undo = KorbuScan("--undo last");
  EXPECT_EQ(undo.status, 0) << undo.out;
  EXPECT_EQ(test::ReadFileBytes(worm), test::VariantFile(3));
  EXPECT_TRUE(CurrentRegistryValue(*platform::DefaultWindowsSystem(), value));
}

// Killed at any point of a big Delete, the program has recorded every file it
// removed: the undo brings each back, though the records reach the disk only
// once per action.
TEST(CliUndoEndToEnd, ADeleteKilledPartWayIsUndoneWhole) {
  test::WinePrefixFixture prefix;
  test::TempTree home;
  test::ScopedEnvironment data("XDG_DATA_HOME", home.Path("data"));
  constexpr int kFiles = 120;
  std::vector<std::string> files;
  for (int i = 0; i < kFiles; ++i) {
    files.push_back(home.Write("tree/d" + std::to_string(i % 10) + "/w" + std::to_string(i) + ".exe", test::VariantFile(1 + i % 16)));
  }
  const int watch = ::inotify_init1(IN_CLOEXEC);
  ASSERT_GE(watch, 0);
  ASSERT_GE(::inotify_add_watch(watch, home.Path("tree/d0").c_str(), IN_DELETE), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    const int null = ::open("/dev/null", O_WRONLY);
    ::dup2(null, 1);
    ::dup2(null, 2);
    const std::string tree = home.Path("tree");
    ::execl(KORBU_SCAN_EXE, KORBU_SCAN_EXE, "--no-engine", "--no-memory", "--no-registry", "--delete", tree.c_str(),
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  // Killed as soon as the first file has gone.
  pollfd ready{watch, POLLIN, 0};
  const int seen = ::poll(&ready, 1, 120000);
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);
  ::close(watch);
  ASSERT_EQ(seen, 1) << "no file was deleted";
  ASSERT_TRUE(WIFSIGNALED(status)) << "the action ended before it could be killed";
  const auto gone = std::count_if(files.begin(), files.end(), [](const std::string& f) { return !fs::exists(f); });
  ASSERT_GT(gone, 0);
  ASSERT_LT(gone, kFiles) << "the action ended before it could be killed";

  const ProgramRun undo = KorbuScan("--undo last");
  EXPECT_EQ(undo.status, 0) << undo.out;
  for (int i = 0; i < kFiles; ++i) {
    ASSERT_EQ(test::ReadFileBytes(files[static_cast<std::size_t>(i)]), test::VariantFile(1 + i % 16)) << files[static_cast<std::size_t>(i)];
  }
}

// The user the scanned tree belongs to; no account needs to exist for it.
constexpr uid_t kUser = 61234;
constexpr gid_t kGroup = 61234;

struct FileState {
  std::string kind;
  unsigned mode = 0;
  uid_t owner = 0;
  std::string content;
  bool operator==(const FileState&) const = default;
};

// Every entry below a folder, links not followed.
std::map<std::string, FileState> Snapshot(const std::string& folder) {
  std::map<std::string, FileState> entries;
  for (auto it = fs::recursive_directory_iterator(folder); it != fs::recursive_directory_iterator(); ++it) {
    struct stat st {};
    if (::lstat(it->path().c_str(), &st) != 0) continue;
    FileState state{S_ISLNK(st.st_mode) ? "link" : S_ISDIR(st.st_mode) ? "dir" : "file", st.st_mode & 07777u, st.st_uid,
                    S_ISREG(st.st_mode) ? test::ReadFileBytes(it->path()) : std::string()};
    entries[it->path().string()] = state;
  }
  return entries;
}

// Runs korbu-scan as root over folders an unprivileged user owns, with a data
// folder, a home and no Wine prefix of its own.
class RootUndoTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::geteuid() != 0) GTEST_SKIP() << "runs only as root: it attacks root's undo as an unprivileged user";
    fs::permissions(tree_.Root(), fs::perms(0755));
    user_ = tree_.MakeDir("user");
    Own(user_, 0755);
  }

  std::string Data(const std::string& relative = {}) const { return tree_.Path("data/korbu/" + relative); }

  // Korbu-scan over the user's tree, with the signature engine where its test
  // databases are there, the own detection alone where they are not (a folder
  // named with -d that holds none is an error).
  static std::string Scan(const std::string& action, const std::string& folder) {
    const std::string engine = Databases().empty() ? "--no-engine" : "-d " + Quoted(Databases());
    return "--no-memory --no-registry " + engine + " " + action + " " + Quoted(folder);
  }

  // A worm file of the user's, set-user-ID as the user made it: Delete repairs
  // the system for it too (here: a system that is not there).
  std::string UserWorm(const std::string& folder, const std::string& name) const {
    return UserFile(folder + "/" + name, test::VariantFile(1));
  }

  // A file the engine finds, which Delete only deletes; empty without the
  // engine's test databases.
  std::string UserEicar(const std::string& folder, const std::string& name) const {
    if (Databases().empty()) return std::string();
    return UserFile(folder + "/" + name, kEicar);
  }

  static std::string UserFile(const std::string& path, std::string_view content) {
    test::WriteFileBytes(path, content);
    Own(path, 04755);
    return path;
  }

  static void Own(const std::string& path, unsigned mode) {
    EXPECT_EQ(::lchown(path.c_str(), kUser, kGroup), 0) << path;
    if (!fs::is_symlink(path)) {
      EXPECT_EQ(::chmod(path.c_str(), mode), 0) << path;
    }
  }

  // Empty when the shared test databases are not beside the clone.
  static const std::string& Databases() {
    static const std::string path = test::SharedDir().empty() ? std::string() : test::SharedDir() + "/engine-test-db";
    return path;
  }

  static constexpr std::string_view kEicar = "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";

  test::TempTree tree_;
  test::ScopedEnvironment data_{"XDG_DATA_HOME", tree_.Path("data")};
  test::ScopedEnvironment home_{"HOME", tree_.Path("home")};
  test::ScopedEnvironment prefix_{"WINEPREFIX", tree_.Path("no-prefix")};
  std::string user_;
};

TEST_F(RootUndoTest, ASetUidFileComesBackWithItsOwnerNeverAsRoot) {
  const std::string worm = UserWorm(user_, "suid.exe");
  const ProgramRun scan = KorbuScan(Scan("--delete", user_));
  ASSERT_EQ(scan.status, 1) << scan.out;
  ASSERT_FALSE(fs::exists(worm));
  // Nobody but root can read what the quarantine keeps.
  for (const auto& [path, state] : Snapshot(Data())) {
    EXPECT_EQ(state.owner, 0u) << path;
    EXPECT_EQ(state.mode & 077u, 0u) << path;
  }

  const ProgramRun undo = KorbuScan("--undo last");
  EXPECT_EQ(undo.status, 0) << undo.out;
  struct stat st {};
  ASSERT_EQ(::lstat(worm.c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kUser);
  EXPECT_EQ(st.st_gid, kGroup);
  EXPECT_EQ(st.st_mode & 07777u, 04755u);
  EXPECT_EQ(test::ReadFileBytes(worm), test::VariantFile(1));
}

TEST_F(RootUndoTest, RecordsSomebodyElseCanWriteAreRefused) {
  const std::string worm = UserWorm(user_, "w.exe");
  ASSERT_EQ(KorbuScan(Scan("--delete", user_)).status, 1);
  const std::string again = UserWorm(user_, "again.exe");
  // The user takes the actions folder: nothing reads or writes the records.
  ASSERT_EQ(::chown(Data("actions").c_str(), kUser, kGroup), 0);
  for (const char* args : {"--history", "--undo last"}) {
    const ProgramRun run = KorbuScan(args);
    EXPECT_EQ(run.status, 2) << args << ": " << run.out;
    EXPECT_NE(run.out.find("is not the user's own"), std::string::npos) << args << ": " << run.out;
  }
  const ProgramRun action = KorbuScan(Scan("--delete", again));
  EXPECT_NE(action.out.find("Changes refused: "), std::string::npos) << action.out;
  EXPECT_EQ(action.out.find("Recorded as action"), std::string::npos) << action.out;
  EXPECT_TRUE(fs::exists(again));
  EXPECT_FALSE(fs::exists(worm));
  // Root's own folder, open to all, is no better.
  ASSERT_EQ(::chown(Data("actions").c_str(), 0, 0), 0);
  ASSERT_EQ(::chmod(Data("actions").c_str(), 0777), 0);
  EXPECT_EQ(KorbuScan("--undo last").status, 2);
  EXPECT_FALSE(fs::exists(worm));
}

// Flips pairs of names (a real folder or file and a link beside it) as the
// user, atomically and over and over, until it is stopped.
class UserSwapper {
 public:
  UserSwapper(const std::vector<std::pair<std::string, std::string>>& pairs) {
    swaps_ = static_cast<std::atomic<long>*>(
        ::mmap(nullptr, sizeof(std::atomic<long>), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
    new (swaps_) std::atomic<long>(0);
    pid_ = ::fork();
    if (pid_ != 0) return;
    if (::setgroups(0, nullptr) != 0 || ::setresgid(kGroup, kGroup, kGroup) != 0 ||
        ::setresuid(kUser, kUser, kUser) != 0) {
      ::_exit(1);
    }
    while (true) {
      for (const auto& [a, b] : pairs) {
        if (::renameat2(AT_FDCWD, a.c_str(), AT_FDCWD, b.c_str(), RENAME_EXCHANGE) == 0) swaps_->fetch_add(1);
      }
    }
  }
  ~UserSwapper() {
    if (pid_ > 0) {
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
    }
    ::munmap(swaps_, sizeof(std::atomic<long>));
  }
  long Swaps() const { return swaps_->load(); }

 private:
  pid_t pid_ = -1;
  std::atomic<long>* swaps_;
};

TEST_F(RootUndoTest, SwappingTheFileOrItsFolderForLinksNeverTurnsTheUndoOutside) {
  // Root's own: a program the user would like to make set-user-ID, and an empty
  // folder the user would like root to write into.
  const std::string outside = tree_.MakeDir("outside");
  const std::string victim = tree_.Write("outside/program", "root's program");
  fs::permissions(victim, fs::perms(0755));
  tree_.MakeDir("outside/sub");
  const auto rootsOwn = Snapshot(outside);
  if (UserEicar(user_, "probe.com").empty()) GTEST_SKIP() << "the engine's test databases are missing";
  fs::remove(user_ + "/probe.com");
  constexpr int kRounds = 2;
  constexpr int kFiles = 16;
  long swaps = 0;
  for (int round = 0; round < kRounds; ++round) {
    const std::string sub = tree_.MakeDir("user/sub");
    Own(sub, 0755);
    std::vector<std::pair<std::string, std::string>> pairs{{sub, sub + ".swap"}};
    fs::create_directory_symlink(outside + "/sub", sub + ".swap");
    Own(sub + ".swap", 0);
    for (int i = 0; i < kFiles; ++i) {
      const std::string worm = UserEicar(sub, "w" + std::to_string(i) + ".com");
      fs::create_symlink(victim, worm + ".swap");
      Own(worm + ".swap", 0);
      pairs.emplace_back(worm, worm + ".swap");
    }
    ASSERT_EQ(KorbuScan(Scan("--delete", sub)).status, 1);
    {
      UserSwapper swapper(pairs);
      const ProgramRun undo = KorbuScan("--undo last");
      EXPECT_TRUE(undo.status == 0 || undo.status == 1) << undo.out;
      swaps += swapper.Swaps();
    }
    EXPECT_EQ(Snapshot(outside), rootsOwn) << "round " << round;
    for (const auto& [path, state] : Snapshot(user_)) {
      EXPECT_FALSE(state.owner == 0 && (state.mode & 06000u) != 0) << path << " is root's and set-ID";
    }
    fs::remove_all(sub);
    fs::remove_all(sub + ".swap");
  }
  std::cout << "[ swapped  ] " << swaps << " swaps over " << kRounds << " undos of " << kFiles << " files\n";
  EXPECT_GT(swaps, kRounds);
}

TEST_F(RootUndoTest, TwoUndosAtOnceNeitherFail) {
  std::vector<std::string> worms;
  for (int i = 0; i < 20; ++i) worms.push_back(UserEicar(user_, "e" + std::to_string(i) + ".com"));
  if (worms.front().empty()) GTEST_SKIP() << "the engine's test databases are missing";
  ASSERT_EQ(KorbuScan(Scan("--delete", user_)).status, 1);
  FILE* first = Start("--undo last");
  FILE* second = Start("--undo last");
  const ProgramRun runs[] = {Finish(first), Finish(second)};
  int restored = 0;
  for (const ProgramRun& run : runs) {
    EXPECT_TRUE(run.status == 0 || run.status == 2) << run.out;  // 2: nothing left once the other ended
    EXPECT_EQ(run.out.find("failed"), std::string::npos) << run.out;
    if (run.status == 0) ++restored;
  }
  EXPECT_GE(restored, 1);
  for (const std::string& worm : worms) EXPECT_EQ(test::ReadFileBytes(worm), kEicar) << worm;
}

TEST_F(RootUndoTest, AJournalCutShortIsUndoneAsFarAsItTellsAndSaysSo) {
  const std::string worm = UserWorm(user_, "w.exe");
  ASSERT_EQ(KorbuScan(Scan("--delete", user_)).status, 1);
  std::string id;
  for (const auto& entry : fs::directory_iterator(Data("actions"))) {
    if (entry.is_directory()) id = entry.path().filename().string();
  }
  // The journal loses the end of the delete's record.
  const std::string journal = Data("actions/" + id + "/journal.jsonl");
  std::string text = test::ReadFileBytes(journal);
  const std::size_t cut = text.find("\"op\":\"delete\"");
  ASSERT_NE(cut, std::string::npos);
  test::WriteFileBytes(journal, text.substr(0, cut + 40));

  const ProgramRun undo = KorbuScan("--undo last");
  EXPECT_EQ(undo.status, 1) << undo.out;
  EXPECT_NE(undo.out.find("uncertain: "), std::string::npos) << undo.out;
  EXPECT_NE(undo.out.find("restored: " + worm), std::string::npos) << undo.out;  // its quarantined copy tells
  EXPECT_EQ(test::ReadFileBytes(worm), test::VariantFile(1));
  // The undo's record starts a line of its own, so the next undo picks the same action.
  text = test::ReadFileBytes(journal);
  const std::size_t last = text.rfind('\n', text.size() - 2);
  EXPECT_TRUE(nlohmann::json::parse(text.substr(last + 1), nullptr, false).is_object()) << text;
  const ProgramRun again = KorbuScan("--undo last --json");
  EXPECT_EQ(nlohmann::json::parse(again.out, nullptr, false).value("id", ""), id) << again.out;
}

TEST_F(RootUndoTest, NamesThatAreNoTextNeitherBreakNorForgeTheOutput) {
  const std::string name = std::string("w\n\x1b[31mFAKE: x.exe\xff");
  const std::string worm = UserWorm(user_, name);
  ASSERT_EQ(KorbuScan(Scan("--delete", user_)).status, 1);
  ASSERT_FALSE(fs::exists(worm));
  fs::create_directory(Data("actions/\xff\xfe"));  // no action of ours, and no text

  const ProgramRun text = KorbuScan("--history");
  ASSERT_EQ(text.status, 0) << text.out;
  EXPECT_EQ(text.out.find('\x1b'), std::string::npos) << text.out;
  EXPECT_EQ(text.out.find("\nFAKE"), std::string::npos) << text.out;
  const auto history = nlohmann::json::parse(KorbuScan("--history --json").out, nullptr, false);
  ASSERT_TRUE(history.is_object());
  ASSERT_EQ(history["actions"].size(), 1u);
  EXPECT_TRUE(history["actions"][0]["rows"][0].contains("file_base64"));

  const ProgramRun undo = KorbuScan("--undo last --json");
  EXPECT_EQ(undo.status, 0) << undo.out;
  EXPECT_TRUE(nlohmann::json::parse(undo.out, nullptr, false).is_object()) << undo.out;
  EXPECT_EQ(test::ReadFileBytes(worm), test::VariantFile(1));
}

}  // namespace
}  // namespace korbu::cli
#endif
