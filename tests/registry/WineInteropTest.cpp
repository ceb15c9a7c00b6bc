// The registry backend against Wine itself: values written by one are read by the
// other, and writes are refused while the prefix's wineserver runs. Skips when
// Wine is not installed. Makes one fresh prefix for the whole suite.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <sstream>

#include "RegistryTestPrefix.h"
#include "platform/Utf16Text.h"
#include "scan/RegistryScan.h"
#include "support/TestFrontEnds.h"
#include "platform/Registry.h"
#include "services/MiniReg.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using platform::kHkeyCurrentUser;
using platform::RegistryValue;
using platform::kRegBinary;
using platform::kRegDword;
using platform::kRegExpandSz;
using platform::kRegSz;
using test::ScopedEnv;

bool OnPath(const std::string& program) {
  const char* path = std::getenv("PATH");
  if (path == nullptr) return false;
  std::stringstream folders(path);
  std::string folder;
  while (std::getline(folders, folder, ':')) {
    std::error_code ec;
    if (!folder.empty() && fs::exists(fs::path(folder) / program, ec)) return true;
  }
  return false;
}

class WineInterop : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    if (!OnPath("wine") || !OnPath("wineboot") || !OnPath("wineserver")) return;
    tree_ = std::make_unique<test::TempTree>();
    prefix_ = tree_->Path("prefix");
    booted_ = Wine("wineboot -i") == 0 && Wine("wineserver -w") == 0 && fs::exists(prefix_ + "/user.reg");
  }
  static void TearDownTestSuite() {
    if (tree_) Wine("wineserver -k");
    tree_.reset();
  }

  void SetUp() override {
    if (!OnPath("wine")) GTEST_SKIP() << "Wine is not installed";
    if (!booted_) GTEST_SKIP() << "wineboot could not make a prefix";
    env_.emplace("WINEPREFIX", prefix_);
  }
  void TearDown() override { env_.reset(); }

  // Runs a Wine command for the suite's prefix, quietly and without a display.
  static int Wine(const std::string& command, std::string* output = nullptr) {
    const std::string line = "env -u DISPLAY WINEDEBUG=-all WINEPREFIX='" + prefix_ + "' timeout 120 " + command +
                             (output != nullptr ? " 2>/dev/null" : " >/dev/null 2>&1");
    if (output == nullptr) return std::system(line.c_str());
    FILE* pipe = ::popen(line.c_str(), "r");
    if (pipe == nullptr) return -1;
    char buffer[512];
    std::size_t n = 0;
    while ((n = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) output->append(buffer, n);
    return ::pclose(pipe);
  }

  static inline std::unique_ptr<test::TempTree> tree_;
  static inline std::string prefix_;
  static inline bool booted_ = false;
  std::optional<test::ScopedEnv> env_;
};

TEST_F(WineInterop, ValuesPassBothWaysAndDeletionsReachWine) {
  // Wine writes, the backend reads once the server has saved and ended.
  ASSERT_EQ(Wine("wine reg add 'HKCU\\Software\\Korbu' /v FromWine /t REG_SZ /d 'from wine' /f"), 0);
  ASSERT_EQ(Wine("wine reg add 'HKCU\\Software\\Korbu' /v Number /t REG_DWORD /d 42 /f"), 0);
  ASSERT_EQ(Wine("wineserver -w"), 0);
  std::string text;
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\FromWine", text));
  EXPECT_EQ(text, "from wine");
  std::vector<unsigned char> block;
  ASSERT_TRUE(ReadRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Number", platform::kRegDword, block));
  EXPECT_EQ(block, (std::vector<unsigned char>{42, 0, 0, 0}));

  // The backend writes, Wine reads.
  ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\FromKorbu", "written by korbu"));
  ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Deep\\Er\\Quoted", "a \"b\" \\c"));
  ASSERT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Accented", "caf\xc3\xa9 \xe2\x82\xac"));
  std::string output;
  ASSERT_EQ(Wine("wine reg query 'HKCU\\Software\\Korbu' /v FromKorbu", &output), 0);
  EXPECT_NE(output.find("written by korbu"), std::string::npos) << output;
  output.clear();
  ASSERT_EQ(Wine("wine reg query 'HKCU\\Software\\Korbu\\Deep\\Er' /v Quoted", &output), 0);
  EXPECT_NE(output.find("a \"b\" \\c"), std::string::npos) << output;

  // Wine saves the whole branch again when it changes; what it kept of the
  // backend's values must read back the same.
  ASSERT_EQ(Wine("wine reg add 'HKCU\\Software\\Korbu' /v Touch /t REG_SZ /d x /f"), 0);
  ASSERT_EQ(Wine("wineserver -w"), 0);
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Accented", text));
  EXPECT_EQ(text, "caf\xc3\xa9 \xe2\x82\xac");
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Deep\\Er\\Quoted", text));
  EXPECT_EQ(text, "a \"b\" \\c");

  // A value deleted by the backend is gone for Wine.
  ASSERT_TRUE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\FromWine"));
  EXPECT_NE(Wine("wine reg query 'HKCU\\Software\\Korbu' /v FromWine"), 0);
  EXPECT_EQ(Wine("wine reg query 'HKCU\\Software\\Korbu' /v Number"), 0);
  ASSERT_EQ(Wine("wineserver -w"), 0);
}

TEST_F(WineInterop, WhileTheServerRunsCallsGoThroughWineAndReadBack) {
  ASSERT_EQ(Wine("wineserver -p"), 0);  // a server that stays until it is killed
  // Wine's server holds this value; the file on disk does not have it yet.
  ASSERT_EQ(Wine("wine reg add 'HKCU\\Software\\Korbu' /v Fresh /t REG_SZ /d 'seen live' /f"), 0);
  std::string text;
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Fresh", text));
  EXPECT_EQ(text, "seen live");

  // One by one, and grouped by a batch: odd names and data survive the trip.
  EXPECT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\WhileRunning", "kept \"q\" \\ caf\xc3\xa9"));
  {
    platform::RegistryBatch batch;
    auto key = platform::DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, "Software\\Korbu\\New");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->SetValue("a\\b", platform::kRegDword, std::string("\x07\0\0\0", 4)));
    EXPECT_TRUE(key->SetValue("", platform::kRegSz, platform::RegistryStringData("def")));
    EXPECT_TRUE(DeleteRegValue(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Fresh"));
    EXPECT_TRUE(batch.Commit().empty());
  }
  std::string output;
  ASSERT_EQ(Wine("wine reg query 'HKCU\\Software\\Korbu' /v WhileRunning", &output), 0);
  EXPECT_NE(output.find("kept \"q\" \\ caf"), std::string::npos) << output;
  EXPECT_NE(Wine("wine reg query 'HKCU\\Software\\Korbu' /v Fresh"), 0);
  output.clear();
  ASSERT_EQ(Wine("wine reg query 'HKCU\\Software\\Korbu\\New'", &output), 0);
  EXPECT_NE(output.find("a\\b    REG_DWORD    0x7"), std::string::npos) << output;
  EXPECT_NE(output.find("REG_SZ    def"), std::string::npos) << output;

  // After the server ends, the files hold what was written through it.
  ASSERT_EQ(Wine("wineserver -k"), 0);
  Wine("wineserver -w");
  ASSERT_TRUE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\WhileRunning", text));
  EXPECT_EQ(text, "kept \"q\" \\ caf\xc3\xa9");
  EXPECT_FALSE(ReadRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\Fresh", text));
  EXPECT_TRUE(WriteRegString(*platform::DefaultWindowsSystem(), kHkeyCurrentUser, "Software\\Korbu\\AfterServer", "kept"));
}

// What the lister from inside Wine shows of a key: one value a line.
std::vector<RegistryValue> Listed(const std::string& output) {
  std::vector<RegistryValue> values;
  std::istringstream lines(output);
  std::string name, type, data;
  const auto bytes = [](const std::string& hex) {
    std::string out;
    for (std::size_t i = 0; hex != "-" && i + 1 < hex.size(); i += 2) out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return out;
  };
  while (lines >> name >> type >> data)
    values.push_back({platform::Utf16ToWtf8(platform::Utf16FromLeBytes(bytes(name))),
                      static_cast<std::uint32_t>(std::stoul(type, nullptr, 16)), bytes(data)});
  return values;
}

bool SameValues(std::vector<RegistryValue> a, std::vector<RegistryValue> b) {
  const auto byName = [](const RegistryValue& x, const RegistryValue& y) { return x.name < y.name; };
  std::sort(a.begin(), a.end(), byName);
  std::sort(b.begin(), b.end(), byName);
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](const auto& x, const auto& y) {
           return x.name == y.name && x.type == y.type && x.data == y.data;
         });
}

std::string Describe(const std::vector<RegistryValue>& values) {
  std::string out;
  for (const RegistryValue& v : values) out += "[" + v.name + "] " + std::to_string(v.type) + " " + std::to_string(v.data.size()) + "\n";
  return out;
}

constexpr const char* kRun = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

TEST_F(WineInterop, AnyNameAndDataPassBothRoutesExactlyAndNoKeyNameFakesAnother) {
  if (std::string(KORBU_REG_DUMP).empty()) GTEST_SKIP() << "no MinGW-w64 to build the registry lister";
  const std::string keyPath = "Software\\KorbuOdd";
  const std::string lister = "wine '" + std::string(KORBU_REG_DUMP) + "' '" + keyPath + "'";
  std::vector<RegistryValue> odd = {
      {"Tok\xe4\xb8\xad\xe6\x96\x87", kRegSz, platform::RegistryStringData("/lang=\xe4\xb8\xad\xe6\x96\x87 \xe2\x82\xac")},
      {"lone \xed\xa0\x80", kRegSz, platform::RegistryStringData("C:\\a.exe") + platform::Utf16LeBytes(u"tail")},
      {std::string("zero\0inside", 11), kRegBinary, std::string("\x01\x00\x02", 3)},
      {"odd", kRegExpandSz, std::string("abc", 3)},
      {"line\r\n[HKEY_CURRENT_USER\\Software]", kRegDword, std::string("\x07\0\0\0", 4)},
  };
  // A subkey whose name would end an export's line and open a forged section of
  // the Run key, holding a value of its own.
  const std::string phantom = std::string(kRun) + "\\x\r\n[HKEY_CURRENT_USER\\Software\\Microsoft\\Windows\\CurrentVersion\\Run]";
  const auto runNames = [&] {
    std::vector<std::string> names;
    if (auto run = platform::DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, kRun, platform::KeyAccess::Read))
      if (auto values = run->EnumValues())
        for (const RegistryValue& value : *values) names.push_back(value.name);
    return names;
  };

  // Written through Wine while its server runs, and read by a plain Windows program.
  ASSERT_EQ(Wine("wineserver -p"), 0);
  {
    platform::RegistryBatch batch;
    auto key = platform::DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, keyPath);
    ASSERT_TRUE(key);
    for (const RegistryValue& value : odd) ASSERT_TRUE(key->SetValue(value.name, value.type, value.data));
    auto hidden = platform::DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, phantom);
    ASSERT_TRUE(hidden);
    ASSERT_TRUE(hidden->SetValue("Phantom", kRegSz, platform::RegistryStringData("C:\\x.exe")));
    const auto failures = batch.Commit();
    EXPECT_TRUE(failures.empty()) << (failures.empty() ? "" : failures[0].reason);
  }
  std::string output;
  ASSERT_EQ(Wine(lister, &output), 0);
  EXPECT_TRUE(SameValues(Listed(output), odd)) << output;
  auto live = platform::DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, keyPath, platform::KeyAccess::ReadWrite);
  ASSERT_TRUE(live);
  EXPECT_TRUE(SameValues(*live->EnumValues(), odd)) << Describe(*live->EnumValues());
  std::vector<std::string> names = runNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "Phantom"), 0) << "while Wine runs";
  // Deleted by its exact name, the one with a zero unit too.
  ASSERT_TRUE(live->DeleteValue(odd[2].name));
  odd.erase(odd.begin() + 2);
  output.clear();
  ASSERT_EQ(Wine(lister, &output), 0);
  EXPECT_TRUE(SameValues(Listed(output), odd)) << output;

  // Saved by Wine as its server ends, and read back from its file.
  ASSERT_EQ(Wine("wineserver -k"), 0);
  Wine("wineserver -w");
  auto saved = platform::DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, keyPath, platform::KeyAccess::ReadWrite);
  ASSERT_TRUE(saved);
  EXPECT_TRUE(SameValues(*saved->EnumValues(), odd)) << Describe(*saved->EnumValues());
  names = runNames();
  EXPECT_EQ(std::count(names.begin(), names.end(), "Phantom"), 0) << "from the file";

  // Written to the file, and read by Wine.
  odd.push_back({"\xed\xb0\x80low", kRegSz, std::string("\x00\x00z", 3)});
  ASSERT_TRUE(saved->SetValue(odd.back().name, odd.back().type, odd.back().data));
  output.clear();
  ASSERT_EQ(Wine(lister, &output), 0);
  EXPECT_TRUE(SameValues(Listed(output), odd)) << output;
  ASSERT_EQ(Wine("wineserver -w"), 0);
}

TEST_F(WineInterop, AWineThatCannotAnswerIsAnErrorNeverAnEmptyKey) {
  Wine("wineserver -p");  // a server that stays, if none runs yet
  ScopedEnv failing("WINE", "/bin/false");
  const auto key = platform::DefaultWindowsSystem()->OpenKey(kHkeyCurrentUser, kRun, platform::KeyAccess::Read);
  ASSERT_FALSE(key);
  EXPECT_NE(key.error().kind, ErrorKind::NotFound);
  EXPECT_EQ(platform::DefaultWindowsSystem()->ProbeKey(kHkeyCurrentUser, kRun), platform::KeyState::Unreachable);
  // The scan says so, once.
  test::ListOnlyFrontEnd scan;
  ScanRegistry(scan, ScanContext{}, *platform::DefaultWindowsSystem());
  ASSERT_EQ(scan.errors.size(), 1u);
  EXPECT_NE(scan.errors[0].find("Wine"), std::string::npos) << scan.errors[0];
  EXPECT_EQ(scan.list.Count(), 0u);
  Wine("wineserver -k");
  Wine("wineserver -w");
}

// A Wine that ends before reading a request larger than a pipe holds fails that
// commit alone: the write meets a closed pipe, which must not end the program.
TEST_F(WineInterop, AWineThatEndsBeforeReadingItsRequestFailsTheCommitNotTheProgram) {
  Wine("wineserver -p");
  platform::RegistryBatch batch;
  auto key = platform::DefaultWindowsSystem()->CreateKey(kHkeyCurrentUser, kRun);
  ASSERT_TRUE(key) << key.error().reason;
  ASSERT_TRUE(key->SetValue("large", platform::kRegSz, std::string(1 << 20, 'a')));
  const std::string closing = tree_->Path("closing-wine");
  {
    std::ofstream script(closing);
    script << "#!/bin/sh\nexec 0<&-\nsleep 0.3\nexit 1\n";
  }
  fs::permissions(closing, fs::perms::owner_all);
  ScopedEnv closingWine("WINE", closing);
  const std::vector<platform::RegistryWriteFailure> failed = batch.Commit();
  ASSERT_EQ(failed.size(), 1u);
  EXPECT_NE(failed[0].reason.find("Wine"), std::string::npos) << failed[0].reason;
  Wine("wineserver -k");
  Wine("wineserver -w");
}

}  // namespace
}  // namespace korbu
