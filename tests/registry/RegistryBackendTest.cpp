// The registry interface over a hand-made Wine prefix.

#include <gtest/gtest.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <thread>
#include <vector>

#include "RegistryTestPrefix.h"
#include "platform/Utf16Text.h"
#include "platform/Registry.h"
#include "platform/SystemFactory.h"

namespace korbu::platform {
namespace {
namespace fs = std::filesystem;
using test::ReadFileBytes;
using test::ScopedEnv;
using test::TestPrefix;
using test::WriteFileBytes;

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr const char* kTypes = "Software\\Wine\\Types";

std::string ReplaceOnce(std::string text, std::string_view from, std::string_view to) {
  const auto pos = text.find(from);
  EXPECT_NE(pos, std::string::npos) << from;
  if (pos != std::string::npos) text.replace(pos, from.size(), to);
  return text;
}

std::vector<std::string> Names(const RegistryKey& key) {
  std::vector<std::string> names;
  if (auto values = key.EnumValues())
    for (const RegistryValue& value : *values) names.push_back(value.name);
  return names;
}

// Wide string data: UTF-16LE with its terminating zero, as the registry holds it.
std::string W(std::string_view text) { return RegistryStringData(text); }

std::optional<std::string> Query(RootKey root, const char* key, std::string_view name) {
  auto opened = DefaultWindowsSystem()->OpenKey(root, key, KeyAccess::Read);
  if (!opened) return std::nullopt;
  auto value = opened->QueryValue(name);
  if (!value) return std::nullopt;
  return value->data;
}

TEST(WineRegistry, RootsMapToThePrefixFiles) {
  TestPrefix prefix;
  EXPECT_EQ(Query(kHkeyCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                  "local appdata"),
            W("C:\\users\\korbu\\AppData\\Local"));
  EXPECT_EQ(Query(kHkeyLocalMachine, kRun, "Alpha"), W("C:\\windows\\alpha.exe"));
  EXPECT_FALSE(Query(kHkeyCurrentUser, kRun, "Alpha"));
  EXPECT_EQ(Query(kHkeyClassesRoot, "exefile\\shell\\open\\command", ""), W("\"%1\" %*"));

  for (RootKey root : {kHkeyUsers, kHkeyPerformanceData, kHkeyCurrentConfig, kHkeyDynData, RootKey{0}}) {
    EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(root, "", KeyAccess::Read)) << root;
    EXPECT_FALSE(DefaultWindowsSystem()->CreateKey(root, "Software")) << root;
  }
  EXPECT_TRUE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "", KeyAccess::Read));
  EXPECT_TRUE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "SOFTWARE\\microsoft", KeyAccess::Read));
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "Software\\Micro", KeyAccess::Read));
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "Software\\\\Wine", KeyAccess::Read));
}

TEST(WineRegistry, NothingOpensWithoutAPrefix) {
  test::TempTree empty;
  empty.Write("system.reg", test::kSampleSystemReg);  // no user.reg, no drive_c: no prefix
  ScopedEnv env("WINEPREFIX", empty.Path());
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::Read));
  EXPECT_FALSE(DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "Software\\New"));
  EXPECT_EQ(ReadFileBytes(empty.Path("system.reg")), test::kSampleSystemReg);
}

TEST(WineRegistry, ValuesOfEveryTypeComeBackAsWritten) {
  TestPrefix prefix;
  auto key = DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, kTypes);
  ASSERT_TRUE(key);
  EXPECT_EQ(Names(*key), (std::vector<std::string>{"", "Binary", "Dword", "Expand", "Long", "Multi", "Qword"}));
  EXPECT_EQ(key->QueryValue("multi")->data, Utf16LeBytes(std::u16string(u"one\0two\0\0", 9)));
  EXPECT_EQ(key->QueryValue("Qword")->type, kRegQword);

  const std::vector<RegistryValue> written = {
      {"s", kRegSz, W("text")},
      {"unterminated", kRegSz, Utf16LeBytes(u"no zero")},
      {"odd", kRegSz, std::string("a\0b", 3)},
      {"e", kRegExpandSz, W("%TEMP%\\x")},
      {"m", kRegMultiSz, Utf16LeBytes(std::u16string(u"a\0b\0\0", 5))},
      {"b", kRegBinary, std::string("\0\xff\x10", 3)},
      {"d", kRegDword, std::string("\x78\x56\x34\x12", 4)},
      {"n", kRegNone, ""},
      {"q", kRegQword, std::string(8, '\x01')},
  };
  for (const RegistryValue& value : written) ASSERT_TRUE(key->SetValue(value.name, value.type, value.data));
  for (const RegistryValue& value : written) {
    auto read = key->QueryValue(value.name);
    ASSERT_TRUE(read) << value.name;
    EXPECT_EQ(read->type, value.type) << value.name;
    EXPECT_EQ(read->data, value.data) << value.name;
  }
  const std::string file = prefix.SystemText();
  EXPECT_NE(file.find("\"d\"=dword:12345678\n"), std::string::npos);
  EXPECT_NE(file.find("\"unterminated\"=hex(1):6e,00,6f,00,20,00,7a,00,65,00,72,00,6f,00\n"), std::string::npos);
  EXPECT_NE(file.find("\"odd\"=hex(1):61,00,62\n"), std::string::npos);
  EXPECT_NE(file.find("\"e\"=str(2):\"%TEMP%\\\\x\"\n"), std::string::npos);
}

TEST(WineRegistry, AChangeLeavesEveryOtherByteOfTheFile) {
  TestPrefix prefix;
  const std::string userBefore = prefix.UserText();
  auto key = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::ReadWrite);
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->SetValue("alpha", kRegSz, W("D:\\other.exe")));
  EXPECT_EQ(prefix.SystemText(), ReplaceOnce(std::string(test::kSampleSystemReg), "\"Alpha\"=\"C:\\\\windows\\\\alpha.exe\"",
                                             "\"Alpha\"=\"D:\\\\other.exe\""));
  EXPECT_EQ(prefix.UserText(), userBefore);

  ASSERT_TRUE(key->DeleteValue("ALPHA"));
  EXPECT_FALSE(key->DeleteValue("Alpha"));
  EXPECT_EQ(Names(*key), std::vector<std::string>{"Zulu"});
  EXPECT_EQ(prefix.SystemText(),
            ReplaceOnce(std::string(test::kSampleSystemReg), "\"Alpha\"=\"C:\\\\windows\\\\alpha.exe\"\n", ""));
}

TEST(WineRegistry, AnyNameAndDataRoundTripsThroughTheFileAsWineWritesThem) {
  TestPrefix prefix;
  auto key = DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, "Software\\Caf\xc3\xa9");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->SetValue("Pr\xc3\xa9" "f\xe2\x82\xac", kRegSz, W("C:\\Caf\xc3\xa9\\\xe4\xb8\xad.exe")));
  const std::string file = prefix.UserText();
  EXPECT_NE(file.find("[Software\\\\Caf\\xe9] "), std::string::npos);
  EXPECT_NE(file.find("\"Pr\\x00e9f\\x20ac\"=\"C:\\\\Caf\\xe9\\\\\\x4e2d.exe\"\n"), std::string::npos);
  EXPECT_EQ(Query(kHkeyCurrentUser, "SOFTWARE\\CAF\xc3\x89", "pr\xc3\x89" "F\xe2\x82\xac"),
            W("C:\\Caf\xc3\xa9\\\xe4\xb8\xad.exe"));

  // Names with a zero unit, a lone surrogate (WTF-8), a line end and a quote;
  // data with embedded zeros and an odd length: all come back whole.
  const std::vector<RegistryValue> odd = {
      {std::string("a\0b", 3), kRegSz, W("one") + std::string("\0\0tail\0", 8)},
      {"lone \xed\xa0\x80 half", kRegExpandSz, std::string("\x01\x02\x03", 3)},
      {"line\r\n[Software\\Other]\"", kRegBinary, std::string()},
  };
  for (const RegistryValue& value : odd) ASSERT_TRUE(key->SetValue(value.name, value.type, value.data));
  auto values = key->EnumValues();
  ASSERT_TRUE(values);
  ASSERT_EQ(values->size(), 4u);
  for (const RegistryValue& value : odd) {
    const auto found = std::find_if(values->begin(), values->end(), [&](const RegistryValue& v) { return v.name == value.name; });
    ASSERT_NE(found, values->end()) << value.name;
    EXPECT_EQ(found->type, value.type);
    EXPECT_EQ(found->data, value.data);
  }
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, "Software\\Other", KeyAccess::Read));
  ASSERT_TRUE(key->DeleteValue(std::string("A\0B", 3)));
  EXPECT_EQ(key->EnumValues()->size(), 3u);
}

TEST(WineRegistry, CreateMakesMissingParentsAndDefaultValuesStandAlone) {
  TestPrefix prefix;
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "Software\\A", KeyAccess::Read));
  auto key = DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "Software\\A\\B\\C");
  ASSERT_TRUE(key);
  EXPECT_TRUE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "Software\\a", KeyAccess::Read));
  EXPECT_TRUE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "Software\\A\\b\\c\\", KeyAccess::Read));
  EXPECT_EQ(key->EnumValues()->size(), 0u);

  ASSERT_TRUE(key->SetValue("", kRegSz, std::string("default\0", 8)));
  ASSERT_TRUE(key->SetValue("named", kRegSz, std::string("named\0", 6)));
  ASSERT_TRUE(key->DeleteValue(""));
  EXPECT_EQ(Names(*key), std::vector<std::string>{"named"});
  EXPECT_FALSE(key->DeleteValue(""));

  // Creating a key that exists writes nothing.
  const std::string before = prefix.SystemText();
  EXPECT_TRUE(DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "software\\a\\b"));
  EXPECT_TRUE(DefaultWindowsSystem()->CreateKey(kHkeyClassesRoot, "exefile"));
  EXPECT_EQ(prefix.SystemText(), before);
}

TEST(WineRegistry, OnlyEmptyKeysAreDeleted) {
  TestPrefix prefix;
  const std::string before = prefix.SystemText();
  auto key = DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "Software\\A\\B");
  ASSERT_TRUE(key);
  ASSERT_TRUE(key->SetValue("v", kRegDword, std::string(4, '\0')));
  const Status withSubkey = DefaultWindowsSystem()->DeleteEmptyKey(kHkeyLocalMachine, "Software\\A");
  ASSERT_FALSE(withSubkey);
  EXPECT_NE(withSubkey.error().kind, ErrorKind::NotFound);
  EXPECT_FALSE(DefaultWindowsSystem()->DeleteEmptyKey(kHkeyLocalMachine, "Software\\A\\B"));  // a value
  ASSERT_TRUE(key->DeleteValue("v"));
  ASSERT_TRUE(DefaultWindowsSystem()->DeleteEmptyKey(kHkeyLocalMachine, "Software\\A\\B"));
  // A key that only held B was never written on its own, as Wine does not.
  const Status gone = DefaultWindowsSystem()->DeleteEmptyKey(kHkeyLocalMachine, "Software\\A");
  ASSERT_FALSE(gone);
  EXPECT_EQ(gone.error().kind, ErrorKind::NotFound);
  EXPECT_EQ(prefix.SystemText(), before);
  EXPECT_FALSE(DefaultWindowsSystem()->DeleteEmptyKey(kHkeyLocalMachine, ""));
}

TEST(WineRegistry, AccessIsWhatTheKeyWasOpenedFor) {
  TestPrefix prefix;
  auto reader = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::Read);
  auto writer = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::Write);
  ASSERT_TRUE(reader && writer);
  EXPECT_FALSE(reader->SetValue("x", kRegDword, std::string(4, '\0')));
  EXPECT_FALSE(reader->DeleteValue("Alpha"));
  EXPECT_FALSE(writer->QueryValue("Alpha"));
  EXPECT_FALSE(writer->EnumValues());
  EXPECT_EQ(prefix.SystemText(), test::kSampleSystemReg);
}

TEST(WineRegistry, AFileThatIsNoRegistryIsNeitherReadNorWritten) {
  const std::string junk = "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\Software]\n\"x\"=\"y\"\n";
  TestPrefix prefix(junk);
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "", KeyAccess::Read));
  EXPECT_FALSE(DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "Software"));
  EXPECT_EQ(prefix.SystemText(), junk);
}

TEST(WineRegistry, AChangeMadeByAnotherWriterAfterOpeningIsKept) {
  TestPrefix prefix;
  auto first = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::ReadWrite);
  ASSERT_TRUE(first);
  // Another program changes the file after this key was opened and read.
  WriteFileBytes(prefix.SystemReg(),
                 ReplaceOnce(prefix.SystemText(), "\"Zulu\"=", "\"Other\"=\"written elsewhere\"\n\"Zulu\"="));
  ASSERT_TRUE(first->SetValue("Mine", kRegSz, std::string("mine\0", 5)));
  EXPECT_EQ(Names(*first), (std::vector<std::string>{"Alpha", "Mine", "Other", "Zulu"}));
}

TEST(WineRegistry, ConcurrentWritersLoseNoChange) {
  TestPrefix prefix;
  constexpr int kThreads = 4;
  constexpr int kEach = 15;
  std::vector<std::thread> threads;
  std::vector<int> failures(kThreads, 0);
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t, &failures] {
      for (int i = 0; i < kEach; ++i) {
        auto key = DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, "Software\\Load");
        const std::string name = "v" + std::to_string(t) + "_" + std::to_string(i);
        if (!key || !key->SetValue(name, kRegDword, std::string(4, static_cast<char>(i)))) ++failures[static_cast<std::size_t>(t)];
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  auto key = DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, "Software\\Load", KeyAccess::Read);
  ASSERT_TRUE(key);
  EXPECT_EQ(key->EnumValues()->size(), static_cast<std::size_t>(kThreads * kEach));
  // Racing creators make the key's section once.
  const std::string file = prefix.UserText();
  EXPECT_EQ(file.find("[Software\\\\Load]"), file.rfind("[Software\\\\Load]"));
}

TEST(WineRegistry, AKilledWriterLeavesTheOldOrTheNewFile) {
  TestPrefix prefix;
  // A temporary file left by an earlier crash changes nothing.
  prefix.Tree().Write(".system.reg.Ab12Cd", "WINE REGISTRY Version 2\n[Half");
  ASSERT_TRUE(Query(kHkeyLocalMachine, kRun, "Alpha"));

  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    auto key = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::Write);
    for (unsigned i = 0; key; ++i) (void)key->SetValue("Counter", kRegDword, std::string(4, static_cast<char>(i)));
    ::_exit(1);
  }
  // Let the child get well into its loop, then kill it wherever it is.
  for (int i = 0; i < 200 && prefix.SystemText().find("Counter") == std::string::npos; ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  std::this_thread::sleep_for(std::chrono::milliseconds(37));
  ::kill(child, SIGKILL);
  int status = 0;
  ::waitpid(child, &status, 0);

  const std::string after = prefix.SystemText();
  const std::size_t line = after.find("\"Counter\"=dword:");
  ASSERT_NE(line, std::string::npos) << "the child never wrote";
  const std::size_t lineEnd = after.find('\n', line);
  ASSERT_EQ(lineEnd - line, 24u);
  EXPECT_EQ(after.substr(0, line) + after.substr(lineEnd + 1),
            std::string(test::kSampleSystemReg));
  auto key = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::ReadWrite);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->SetValue("After", kRegSz, std::string("ok\0", 3)));
}

// Takes Wine's lock on "<folder>/lock", as wineserver does, until destroyed. An
// open-file-description lock, so that the backend's own look at the file (which
// closes a descriptor of it) cannot drop it, as it would a per-process lock
// taken by this same process.
class HeldServerLock {
 public:
  explicit HeldServerLock(const fs::path& folder) {
    fs::create_directories(folder);
    fd_ = ::open((folder / "lock").c_str(), O_CREAT | O_TRUNC | O_WRONLY | O_CLOEXEC, 0600);
    struct flock lock {};
    lock.l_type = F_WRLCK;
    lock.l_whence = SEEK_SET;
    lock.l_len = 1;
    locked_ = fd_ >= 0 && ::fcntl(fd_, F_OFD_SETLK, &lock) == 0;
  }
  ~HeldServerLock() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool Locked() const { return locked_; }

 private:
  int fd_ = -1;
  bool locked_ = false;
};

std::string ServerDirName(const std::string& prefixFolder) {
  struct stat st {};
  if (::stat(prefixFolder.c_str(), &st) != 0) return {};
  char name[64];
  std::snprintf(name, sizeof name, "server-%llx-%llx", static_cast<unsigned long long>(st.st_dev),
                static_cast<unsigned long long>(st.st_ino));
  return name;
}

// The server owns the registry: the files are never written, and what cannot be
// asked of Wine (here no Wine can be started) is unreachable, not missing.
void ExpectFilesLeftAlone(const TestPrefix& prefix) {
  ScopedEnv noWine("WINE", "/nonexistent/wine");
  const std::string before = prefix.SystemText();
  EXPECT_FALSE(DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::ReadWrite));
  EXPECT_EQ(DefaultWindowsSystem()->ProbeKey(kHkeyLocalMachine, kRun), KeyState::Unreachable);
  auto root = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, "", KeyAccess::ReadWrite);
  ASSERT_TRUE(root);
  EXPECT_FALSE(root->SetValue("New", kRegDword, std::string(4, '\0')));
  EXPECT_FALSE(DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "Software\\Missing"));
  {
    RegistryBatch batch;
    auto made = DefaultWindowsSystem()->CreateKey(kHkeyLocalMachine, "Software\\Missing");
    ASSERT_TRUE(made);  // collected, to be made at the commit
    EXPECT_TRUE(made->SetValue("New", kRegDword, std::string(4, '\0')));
    const auto failures = batch.Commit();
    ASSERT_EQ(failures.size(), 1u);
    EXPECT_EQ(failures[0].keyPath, "Software\\Missing");
    EXPECT_EQ(failures[0].valueName, "New");
  }
  EXPECT_EQ(prefix.SystemText(), before);
}

TEST(WineRegistry, FilesAreLeftAloneWhileWineServerRuns) {
  TestPrefix prefix;
  const std::string serverDir = ServerDirName(prefix.Folder());
  ASSERT_FALSE(serverDir.empty());
  {
    // Debian's Wine: the prefix names its server's folder below $TMPDIR.
    test::TempTree tmp;
    ScopedEnv tmpdir("TMPDIR", tmp.Path());
    prefix.Tree().Write("wineserver", "wine-Xy12Zq\n");
    HeldServerLock server(tmp.Root() / "wine-Xy12Zq" / serverDir);
    ASSERT_TRUE(server.Locked());
    ExpectFilesLeftAlone(prefix);
  }
  {
    // Wine's own layout: /tmp/.wine-<uid>/server-<dev>-<inode>.
    const fs::path base = "/tmp/.wine-" + std::to_string(::getuid());
    const bool hadBase = fs::exists(base);
    {
      HeldServerLock server(base / serverDir);
      ASSERT_TRUE(server.Locked());
      ExpectFilesLeftAlone(prefix);
    }
    std::error_code ec;
    fs::remove_all(base / serverDir, ec);
    if (!hadBase) fs::remove(base, ec);
  }
  // A lock file that nobody holds is what a server leaves when it ends.
  auto key = DefaultWindowsSystem()->OpenKey(kHkeyLocalMachine, kRun, KeyAccess::ReadWrite);
  ASSERT_TRUE(key);
  EXPECT_TRUE(key->SetValue("New", kRegDword, std::string(4, '\0')));
}

}  // namespace
}  // namespace korbu::platform
