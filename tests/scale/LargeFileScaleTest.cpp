// A 4 GiB program judged by the memory phase and by the registry phase: it is read
// as a stream, so the process's peak memory stays far below the file's size, and
// the verdict is the one the own detection gives for its content.

#include <gtest/gtest.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>

#include "PeakMemory.h"
#include "detect/ExecutableFile.h"
#include "detect/Heuristic.h"
#include "detect/VariantTable.h"
#include "platform/FileSystem.h"
#include "platform/Registry.h"
#include "scan/FileVerdict.h"
#include "scan/RegistryScan.h"
#include "scan/ScanContext.h"
#include "support/WinePrefixFixture.h"
#include "support/TestFrontEnds.h"
#include "platform/SystemFactory.h"

namespace korbu {
namespace {

constexpr std::uint64_t kSize = std::uint64_t{4} << 30;
// The pattern crosses the last boundary between two of the reader's blocks.
constexpr std::uint64_t kPatternAt = kSize - kExamineBlockSize - 40;
constexpr std::int64_t kFarBelowTheFileKiB = 64 * 1024;
constexpr const char* kRunKey = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Run";

// The same content as the file, made as it is read: "MZ", zeros, the pattern.
class GeneratedImage : public ByteSource {
 public:
  std::int64_t Read(void* buffer, std::size_t count) override {
    const auto n = static_cast<std::size_t>(std::min<std::uint64_t>(count, kSize - position_));
    auto* out = static_cast<unsigned char*>(buffer);
    std::memset(out, 0, n);
    Overlay(out, n, 0, "MZ");
    Overlay(out, n, kPatternAt, HeuristicPattern());
    position_ += n;
    return static_cast<std::int64_t>(n);
  }

 private:
  void Overlay(unsigned char* out, std::size_t n, std::uint64_t at, const std::string& bytes) const {
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      if (at + i >= position_ && at + i < position_ + n) {
        out[at + i - position_] = static_cast<unsigned char>(bytes[i]);
      }
    }
  }
  std::uint64_t position_ = 0;
};

// What the own detection says of that content.
std::string OwnVerdictOfTheContent() {
  GeneratedImage image;
  const ExecutableFacts facts = ExamineExecutable(image, kSize, ExamineFor::CrcAndPattern);
  EXPECT_TRUE(facts.crcValid);
  EXPECT_TRUE(facts.patternFound);
  int index = 0;
  if (facts.crcValid && FindVariantByCrc(facts.crc, index)) return std::string(VariantName(index));
  return facts.patternFound ? std::string(kHeuristicVerdictName) : std::string();
}

// A sparse file: only its first bytes and the pattern take room on the disk.
bool MakeSparseProgram(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
  if (fd < 0) return false;
  const std::string& pattern = HeuristicPattern();
  bool made = ::write(fd, "MZ", 2) == 2 && ::ftruncate(fd, static_cast<off_t>(kSize)) == 0 &&
              ::pwrite(fd, pattern.data(), pattern.size(), static_cast<off_t>(kPatternAt)) ==
                  static_cast<ssize_t>(pattern.size());
  made = ::close(fd) == 0 && made;
  if (!made) ::unlink(path.c_str());
  return made;
}

using FrontEnd = test::ListOnlyFrontEnd;

// The growth of the peak resident size while step runs, in KiB.
template <typename Step>
std::int64_t PeakGrowth(Step step) {
  test::ResetPeakResident();
  const std::int64_t before = test::PeakResidentKiB();
  step();
  return test::PeakResidentKiB() - before;
}

TEST(LargeProgram, FourGiBFileIsJudgedByBothPhasesWithoutBeingReadIntoMemory) {
  const std::string runValues = std::string("[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 0\n") +
                                "\"Big\"=" + test::WineRegString("C:\\big.exe") + "\n";
  test::WinePrefixFixture prefix(runValues);
  const std::string path = prefix.DriveC("big.exe");
  if (!MakeSparseProgram(path)) GTEST_SKIP() << "the file system here refuses a sparse 4 GiB file";
  ASSERT_GT(test::PeakResidentKiB(), 0) << "no VmHWM in /proc/self/status";
  const std::string expected = OwnVerdictOfTheContent();

  const ScanContext context{nullptr, true};

  // The memory phase: an existing image file given a verdict.
  std::string verdict;
  bool judged = false;
  const std::int64_t memoryGrowth = PeakGrowth([&] { judged = platform::FileExists(path) && ScanFile(path, verdict, context); });
  EXPECT_TRUE(judged);
  EXPECT_EQ(verdict, expected);

  // The registry phase: the Run value naming the file.
  FrontEnd frontEnd;
  bool listed = false;
  const std::int64_t registryGrowth =
      PeakGrowth([&] { listed = ScanRunValue(frontEnd, context, *platform::DefaultWindowsSystem(), platform::kHkeyLocalMachine, std::string(kRunKey) + "\\Big"); });
  EXPECT_TRUE(listed);
  ASSERT_EQ(frontEnd.list.Rows().size(), 2u);  // the value, and the program it starts
  EXPECT_EQ(frontEnd.list.Rows()[0].value.valueName, "Big");
  EXPECT_EQ(frontEnd.list.Rows()[0].virusName, expected);
  EXPECT_EQ(frontEnd.list.Rows()[0].kind, DetectionKind::RegistryValue);
  EXPECT_EQ(frontEnd.list.Rows()[1].kind, DetectionKind::File);

  RecordProperty("memory_phase_peak_growth_kib", std::to_string(memoryGrowth));
  RecordProperty("registry_phase_peak_growth_kib", std::to_string(registryGrowth));
  std::printf("4 GiB program: peak resident grew by %lld KiB (memory phase), %lld KiB (registry phase)\n",
              static_cast<long long>(memoryGrowth), static_cast<long long>(registryGrowth));
  EXPECT_LT(memoryGrowth, kFarBelowTheFileKiB);
  EXPECT_LT(registryGrowth, kFarBelowTheFileKiB);
}

}  // namespace
}  // namespace korbu
