// The engine library's entries, called the way any program that loads it would.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <filesystem>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "CraftedZip.h"
#include "bridge/ClamTypes.h"
#include "bridge/korbu_clam.h"
#include "platform/DynamicLibrary.h"
#include "support/CrcForge.h"
#include "support/TempTree.h"

namespace korbu {
namespace {
namespace fs = std::filesystem;

constexpr char kEicar[] =
    "X5O!P%@AP[4\\PZX54(P^)7CC)7}$EICAR-STANDARD-ANTIVIRUS-TEST-FILE!$H+H*";
constexpr char kClamExe[] = "/usr/share/clamav-testfiles/clam.exe";
constexpr char kClamZip[] = "/usr/share/clamav-testfiles/clam.zip";

class BridgeEntries : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    library_ = platform::DynamicLibrary::Open(test::BuildDir() + "/libkorbu-clamav.so");
  }

  void SetUp() override { ASSERT_TRUE(library_.has_value()) << "engine library not built"; }

  // The entry of the loaded library, typed by the header's declaration (only its
  // type is used: the test does not link the library).
  template <typename Fn>
  static Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(library_->FindEntry(name));
  }
#define BRIDGE_ENTRY(name) Entry<decltype(&::name)>(#name)

  // An engine over the signed test databases; skips without them.
  void* LoadTestEngine() {
    if (test::SharedDir().empty()) {
      ADD_FAILURE() << "shared test databases not present";
      return nullptr;
    }
    uint32_t signatures = 0;
    int32_t status = -1;
    void* engine = BRIDGE_ENTRY(clam_loaddbdir)((test::SharedDir() + "/engine-test-db").c_str(),
                                                &signatures, &status);
    EXPECT_NE(engine, nullptr);
    EXPECT_EQ(signatures, 17u);
    EXPECT_EQ(status, 0);
    EXPECT_EQ(BRIDGE_ENTRY(clam_build)(engine), 0);
    return engine;
  }

  // What a scan answered: the result and the name.
  struct Answer {
    int result;
    std::string name;
    friend bool operator==(const Answer&, const Answer&) = default;
  };
  // The file scanned by path (libclamav reads it) and through a descriptor (the
  // bridge reads it, or hands the descriptor on).
  std::pair<Answer, Answer> ScanBothWays(void* engine, const std::string& file, const clam_limits* limits,
                                         unsigned int options) {
    char byPath[CLAM_NAME_BUFFER_SIZE], byDesc[CLAM_NAME_BUFFER_SIZE];
    const int pathResult = BRIDGE_ENTRY(clam_scanfile)(file.c_str(), byPath, nullptr, engine, limits, options);
    const int fd = ::open(file.c_str(), O_RDONLY);
    EXPECT_GE(fd, 0) << file;
    const int descResult = BRIDGE_ENTRY(clam_scandesc)(fd, byDesc, nullptr, engine, limits, options);
    ::close(fd);
    return {Answer{pathResult, byPath}, Answer{descResult, byDesc}};
  }

  static inline std::optional<platform::DynamicLibrary> library_;
  test::TempTree tree_;
  const clam_limits limits_{6, 1000, 1000, 0, 0, 10485760};
};

TEST_F(BridgeEntries, ExportsTheEntriesAndHidesItsInsides) {
  for (const char* name : {"clam_scanbuff", "clam_scanfile", "clam_scandesc", "clam_retflevel",
                           "clam_retver", "clam_strerror", "clam_debug", "clam_build", "clam_free",
                           "clam_loaddbdir", "clam_loaddb", "clam_cvdverify"}) {
    EXPECT_NE(library_->FindEntry(name), nullptr) << name;
  }
  EXPECT_EQ(library_->FindEntry("_ZN5korbu6bridge13CopyVirusNameEPKcPc"), nullptr);
  EXPECT_EQ(library_->FindEntry("_ZN5korbu6bridge17MapLegacyOptionsEj"), nullptr);

  EXPECT_STREQ(BRIDGE_ENTRY(korbu_engine_problem)(), "") << "Debian's libclamav should bind";
  EXPECT_STREQ(BRIDGE_ENTRY(korbu_clamav_folder)(), "");  // found by the library search
  EXPECT_GE(BRIDGE_ENTRY(clam_retflevel)(), 190u);
  EXPECT_EQ(std::string(BRIDGE_ENTRY(clam_retver)()).rfind("1.", 0), 0u);
  EXPECT_STRNE(BRIDGE_ENTRY(clam_strerror)(1), "");
  EXPECT_STREQ(BRIDGE_ENTRY(clam_strerror)(-3), "Unknown error code");
  EXPECT_STREQ(BRIDGE_ENTRY(clam_strerror)(100000), "Unknown error code");
}

TEST_F(BridgeEntries, LoadersTellFoldersFromFilesAndFailWithNull) {
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  std::string db = test::SharedDir() + "/engine-test-db";
  uint32_t signatures = 99;
  int32_t status = 0;
  void* engine = BRIDGE_ENTRY(clam_loaddb)((db + "/main.cvd").c_str(), &signatures, &status);
  ASSERT_NE(engine, nullptr);
  EXPECT_EQ(signatures, 10u);
  BRIDGE_ENTRY(clam_free)(engine);

  EXPECT_EQ(BRIDGE_ENTRY(clam_loaddb)(db.c_str(), &signatures, &status), nullptr);
  EXPECT_EQ(signatures, 0u);
  EXPECT_NE(status, 0);
  EXPECT_EQ(BRIDGE_ENTRY(clam_loaddbdir)((db + "/main.cvd").c_str(), &signatures, &status), nullptr);
  EXPECT_EQ(BRIDGE_ENTRY(clam_loaddbdir)(tree_.Path("absent").c_str(), nullptr, nullptr), nullptr);
  EXPECT_EQ(BRIDGE_ENTRY(clam_loaddbdir)(nullptr, &signatures, &status), nullptr);
  // A folder without databases is no engine either.
  EXPECT_EQ(BRIDGE_ENTRY(clam_loaddbdir)(tree_.MakeDir("empty").c_str(), &signatures, &status), nullptr);
  BRIDGE_ENTRY(clam_free)(nullptr);

  EXPECT_EQ(BRIDGE_ENTRY(clam_cvdverify)((db + "/daily.cvd").c_str()), 0);
  EXPECT_NE(BRIDGE_ENTRY(clam_cvdverify)(tree_.Write("fake.cvd", std::string(600, 'x')).c_str()), 0);
  EXPECT_NE(BRIDGE_ENTRY(clam_cvdverify)(nullptr), 0);
}

TEST_F(BridgeEntries, ScanEntriesNameWhatTheyFind) {
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  void* engine = LoadTestEngine();
  ASSERT_NE(engine, nullptr);
  char name[CLAM_NAME_BUFFER_SIZE] = "stale";
  uint32_t scanned = 77;

  std::string eicar = tree_.Write("eicar.com", kEicar);
  EXPECT_EQ(BRIDGE_ENTRY(clam_scanfile)(eicar.c_str(), name, &scanned, engine, &limits_, 878), 1);
  EXPECT_STREQ(name, "Eicar-Test-Signature");
  std::string clean = tree_.Write("clean.txt", "nothing to see");
  EXPECT_EQ(BRIDGE_ENTRY(clam_scanfile)(clean.c_str(), name, &scanned, engine, &limits_, 878), 0);
  EXPECT_STREQ(name, "");
  EXPECT_NE(BRIDGE_ENTRY(clam_scanfile)(tree_.Path("absent").c_str(), name, &scanned, engine, &limits_, 878), 1);
  EXPECT_NE(BRIDGE_ENTRY(clam_scanfile)(eicar.c_str(), name, &scanned, nullptr, &limits_, 878), 1);

  EXPECT_EQ(BRIDGE_ENTRY(clam_scanbuff)(kEicar, sizeof kEicar - 1, name, engine), 1);
  EXPECT_STREQ(name, "Eicar-Test-Signature");
  EXPECT_EQ(BRIDGE_ENTRY(clam_scanbuff)("harmless", 8, name, engine), 0);

  int fd = ::open(eicar.c_str(), O_RDONLY);
  ASSERT_GE(fd, 0);
  EXPECT_EQ(BRIDGE_ENTRY(clam_scandesc)(fd, name, &scanned, engine, nullptr, 878), 1);
  ::close(fd);
  EXPECT_STREQ(name, "Eicar-Test-Signature");
  BRIDGE_ENTRY(clam_free)(engine);
}

TEST_F(BridgeEntries, ScanFactsTellOnlyOfFilesMatchedAsTheyLieOrAsText) {
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  void* engine = LoadTestEngine();
  ASSERT_NE(engine, nullptr);
  std::string data("\x9f\x9f\0\x01", 4);  // no text of any kind
  for (unsigned i = 0; i < 4096; ++i) data.push_back(static_cast<char>((i * 7919u) >> 3));
  std::string wide = "\xff\xfe";
  for (char c : std::string("Quarterly FIGURES, all of them")) wide += std::string{c, '\0'};
  constexpr std::uint32_t kBytes = KORBU_FACT_MATCHED_AS_BYTES;
  constexpr unsigned kHtml = 878 | CLAM_SCAN_HTML;
  struct Case {
    std::string file;
    std::uint32_t facts;       // scanned without HTML parsing
    std::uint32_t htmlFacts;  // and with it
  };
  std::vector<Case> cases = {
      {tree_.Write("data.bin", data), kBytes, kBytes},
      // Unicode text is normalized where HTML is parsed, and ASCII may be parsed as HTML.
      {tree_.Write("utf16.txt", wide), kBytes, KORBU_FACT_MATCHED_AS_TEXT},
      {tree_.Write("ascii.txt", "Quarterly r\xc3\xa9sum\xc3\xa9 of the FIGURES"), kBytes, 0},
      // A larger file is matched in windows.
      {tree_.Write("large.bin", std::string(200000, '\x9f') + data), 0, 0},
      {tree_.Write("eicar.com", kEicar), 0, 0},
      {tree_.Write("tiny.bin", "\x01\x02"), 0, 0},
      {tree_.Write("program.exe", test::MzFile(4096)), 0, 0},
  };
  if (fs::exists(kClamZip)) cases.push_back({kClamZip, 0, 0});  // a member makes a second layer
  for (const Case& c : cases) {
    for (const unsigned options : {878u, kHtml}) {
      const int fd = ::open(c.file.c_str(), O_RDONLY);
      ASSERT_GE(fd, 0) << c.file;
      char name[CLAM_NAME_BUFFER_SIZE];
      std::uint32_t facts = 99;
      BRIDGE_ENTRY(korbu_scandesc_facts)(fd, name, nullptr, engine, &limits_, options, &facts);
      ::close(fd);
      EXPECT_EQ(facts, options == kHtml ? c.htmlFacts : c.facts) << c.file << " options " << options;
    }
  }
  BRIDGE_ENTRY(clam_free)(engine);
}

TEST_F(BridgeEntries, UnbuiltEngineScansNothing) {
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  void* engine = BRIDGE_ENTRY(clam_loaddbdir)((test::SharedDir() + "/engine-test-db").c_str(), nullptr, nullptr);
  ASSERT_NE(engine, nullptr);
  char name[CLAM_NAME_BUFFER_SIZE];
  std::string eicar = tree_.Write("eicar.com", kEicar);
  EXPECT_NE(BRIDGE_ENTRY(clam_scanfile)(eicar.c_str(), name, nullptr, engine, &limits_, 878), 1);
  EXPECT_STREQ(name, "");
  BRIDGE_ENTRY(clam_free)(engine);
}

TEST_F(BridgeEntries, OptionsAndLimitsApplyToEachScan) {
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  if (!fs::exists(kClamZip)) GTEST_SKIP() << "clamav-testfiles not installed";
  void* engine = LoadTestEngine();
  ASSERT_NE(engine, nullptr);
  auto scan = BRIDGE_ENTRY(clam_scanfile);
  char name[CLAM_NAME_BUFFER_SIZE];

  // No verdict is carried over from a scan with other options.
  EXPECT_EQ(scan(kClamZip, name, nullptr, engine, &limits_, 878), 0);
  EXPECT_EQ(scan(kClamZip, name, nullptr, engine, &limits_, 879), 1);
  EXPECT_STREQ(name, "Clamav.Test.File-6");
  EXPECT_EQ(scan(kClamZip, name, nullptr, engine, &limits_, 878), 0);

  // The zip's member is 544 bytes: a smaller size limit leaves it unscanned.
  clam_limits small = limits_;
  small.maxfilesize = 500;
  EXPECT_NE(scan(kClamZip, name, nullptr, engine, &small, 879 & ~CLAM_SCAN_BLOCKMAX), 1);
  EXPECT_EQ(scan(kClamZip, name, nullptr, engine, &limits_, 879), 1);

  // Beyond the size limit a file is not scanned: neither a nameless virus nor, with
  // or without the over-limit alert, clean.
  std::string big = tree_.Write("big.bin", "MZ");
  fs::resize_file(big, 11u << 20);
  const int over = scan(big.c_str(), name, nullptr, engine, &limits_, 878);
  EXPECT_NE(over, 1);
  EXPECT_NE(over, 0);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(scan(big.c_str(), name, nullptr, engine, &limits_, 878 & ~CLAM_SCAN_BLOCKMAX), over);
  EXPECT_EQ(scan(big.c_str(), name, nullptr, engine, nullptr, 878), 0);  // libclamav's own limits
  BRIDGE_ENTRY(clam_free)(engine);
}

TEST_F(BridgeEntries, DescriptorScansAgreeWithPathScans) {
  // Small files are read by the bridge, large ones mapped by libclamav: both sides
  // of that bound, and of the size limit, give the answers of a scan by path.
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  if (!fs::exists(kClamZip)) GTEST_SKIP() << "clamav-testfiles not installed";
  void* engine = LoadTestEngine();
  ASSERT_NE(engine, nullptr);
  clam_limits small = limits_;
  small.maxfilesize = 500;
  std::string large(2u << 20, 'x');
  large.replace(0, sizeof kEicar - 1, kEicar);
  const std::vector<std::string> files = {kClamZip, kClamExe, tree_.Write("empty", ""),
                                          tree_.Write("short.exe", "MZ\x90"), tree_.Write("large", large)};
  for (const std::string& file : files) {
    for (const clam_limits* limits : {&limits_, static_cast<const clam_limits*>(&small)}) {
      for (unsigned int options : {878u, 879u}) {
        const auto [byPath, byDesc] = ScanBothWays(engine, file, limits, options);
        EXPECT_EQ(byDesc, byPath) << file << " limit " << limits->maxfilesize << " options " << options;
      }
    }
  }
  BRIDGE_ENTRY(clam_free)(engine);
}

TEST_F(BridgeEntries, ArchivesPastEachLimitAlertAlikeOnBothSidesOfTheHeapMapBound) {
  // The bridge reads files of up to 1 MiB itself; whatever way a file is read,
  // the alert of the limit it reaches must be the same as libclamav's own.
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  void* engine = LoadTestEngine();
  ASSERT_NE(engine, nullptr);
  constexpr std::size_t kBound = 1u << 20;
  struct Case {
    std::vector<test::ZipMember> members;
    Answer expected;
  };
  const Case cases[] = {
      {test::PastMaxFiles(kEicar), {1, "Heuristics.Limits.Exceeded.MaxFiles"}},
      {test::PastMaxRecursion(kEicar), {1, "Heuristics.Limits.Exceeded.MaxRecursion"}},
      // libclamav cuts the member to the limit and scans that part without an
      // alert: the archive was not judged whole.
      {test::PastMaxFileSize(kEicar), {bridge::clam::CL_EMAXSIZE, ""}}};
  for (const Case& c : cases) {
    for (std::size_t size : {kBound - 1, kBound, kBound + 1}) {
      const std::string file = tree_.Write("past.zip", test::ZipOfSize(c.members, size));
      const auto [byPath, byDesc] = ScanBothWays(engine, file, &limits_, 879);
      EXPECT_EQ(byPath, c.expected) << c.expected.name << ", " << size << " bytes: " << byPath.name;
      EXPECT_EQ(byDesc, c.expected) << c.expected.name << ", " << size << " bytes: " << byDesc.name;
    }
  }
  BRIDGE_ENTRY(clam_free)(engine);
}

TEST_F(BridgeEntries, ScansWithDifferentLimitsFromSeveralThreads) {
  if (test::SharedDir().empty()) GTEST_SKIP() << "shared test databases not present";
  if (!fs::exists(kClamZip)) GTEST_SKIP() << "clamav-testfiles not installed";
  void* engine = LoadTestEngine();
  ASSERT_NE(engine, nullptr);
  auto scan = BRIDGE_ENTRY(clam_scanfile);
  clam_limits small = limits_;
  small.maxfilesize = 500;
  std::vector<int> wrong(4, 0);
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([&, t] {
      const clam_limits* mine = t % 2 == 0 ? &limits_ : &small;
      int expected = t % 2 == 0 ? 1 : 0;
      char name[CLAM_NAME_BUFFER_SIZE];
      for (int i = 0; i < 20; ++i) {
        if (scan(kClamZip, name, nullptr, engine, mine, 879 & ~CLAM_SCAN_BLOCKMAX) != expected) ++wrong[t];
      }
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(wrong, std::vector<int>(4, 0));
  BRIDGE_ENTRY(clam_free)(engine);
}

}  // namespace
}  // namespace korbu
