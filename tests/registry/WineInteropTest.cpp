// The registry backend against Wine itself: values written by one are read by the
// other, and writes are refused while the prefix's wineserver runs. Skips when
// Wine is not installed. Makes one fresh prefix for the whole suite.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>

#include "RegistryTestPrefix.h"
#include "platform/Registry.h"
#include "services/MiniReg.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;
using platform::kHkeyCurrentUser;

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
  ASSERT_TRUE(ReadRegString(kHkeyCurrentUser, "Software\\Korbu\\FromWine", text));
  EXPECT_EQ(text, "from wine");
  std::vector<unsigned char> block;
  ASSERT_TRUE(ReadRegValue(kHkeyCurrentUser, "Software\\Korbu\\Number", platform::kRegDword, block));
  EXPECT_EQ(block, (std::vector<unsigned char>{42, 0, 0, 0}));

  // The backend writes, Wine reads.
  ASSERT_TRUE(WriteRegString(kHkeyCurrentUser, "Software\\Korbu\\FromKorbu", "written by korbu"));
  ASSERT_TRUE(WriteRegString(kHkeyCurrentUser, "Software\\Korbu\\Deep\\Er\\Quoted", "a \"b\" \\c"));
  ASSERT_TRUE(WriteRegString(kHkeyCurrentUser, "Software\\Korbu\\Accented", "caf\xe9 \x80"));
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
  ASSERT_TRUE(ReadRegString(kHkeyCurrentUser, "Software\\Korbu\\Accented", text));
  EXPECT_EQ(text, "caf\xe9 \x80");
  ASSERT_TRUE(ReadRegString(kHkeyCurrentUser, "Software\\Korbu\\Deep\\Er\\Quoted", text));
  EXPECT_EQ(text, "a \"b\" \\c");

  // A value deleted by the backend is gone for Wine.
  ASSERT_TRUE(DeleteRegValue(kHkeyCurrentUser, "Software\\Korbu\\FromWine"));
  EXPECT_NE(Wine("wine reg query 'HKCU\\Software\\Korbu' /v FromWine"), 0);
  EXPECT_EQ(Wine("wine reg query 'HKCU\\Software\\Korbu' /v Number"), 0);
  ASSERT_EQ(Wine("wineserver -w"), 0);
}

TEST_F(WineInterop, WhileTheServerRunsCallsGoThroughWineAndReadBack) {
  ASSERT_EQ(Wine("wineserver -p"), 0);  // a server that stays until it is killed
  // Wine's server holds this value; the file on disk does not have it yet.
  ASSERT_EQ(Wine("wine reg add 'HKCU\\Software\\Korbu' /v Fresh /t REG_SZ /d 'seen live' /f"), 0);
  std::string text;
  ASSERT_TRUE(ReadRegString(kHkeyCurrentUser, "Software\\Korbu\\Fresh", text));
  EXPECT_EQ(text, "seen live");

  // One by one, and grouped by a batch: odd names and data survive the trip.
  EXPECT_TRUE(WriteRegString(kHkeyCurrentUser, "Software\\Korbu\\WhileRunning", "kept \"q\" \\ caf\xe9"));
  {
    platform::RegistryBatch batch;
    auto key = platform::RegistryKey::Create(kHkeyCurrentUser, "Software\\Korbu\\New");
    ASSERT_TRUE(key);
    EXPECT_TRUE(key->SetValue("a\\b", platform::kRegDword, std::string("\x07\0\0\0", 4)));
    EXPECT_TRUE(key->SetValue("", platform::kRegSz, std::string("def\0", 4)));
    EXPECT_TRUE(DeleteRegValue(kHkeyCurrentUser, "Software\\Korbu\\Fresh"));
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
  ASSERT_TRUE(ReadRegString(kHkeyCurrentUser, "Software\\Korbu\\WhileRunning", text));
  EXPECT_EQ(text, "kept \"q\" \\ caf\xe9");
  EXPECT_FALSE(ReadRegString(kHkeyCurrentUser, "Software\\Korbu\\Fresh", text));
  EXPECT_TRUE(WriteRegString(kHkeyCurrentUser, "Software\\Korbu\\AfterServer", "kept"));
}

}  // namespace
}  // namespace korbu
