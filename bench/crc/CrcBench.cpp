// CRC-32 implementations side by side, and the file verdict against a plain read
// of the same file.

#include <benchmark/benchmark.h>
#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "detect/Crc32.h"
#include "platform/FileSystem.h"
#include "scan/FileVerdict.h"

namespace {

const std::string& Buffer(std::size_t size) {
  static std::string data = [] {
    std::mt19937 random(1);
    std::string bytes(16u << 20, '\0');
    for (char& c : bytes) c = static_cast<char>(random() & 0xFFu);
    return bytes;
  }();
  static std::string view;
  view.assign(data, 0, size);
  return view;
}

template <std::uint32_t (*Update)(const void*, std::int64_t, std::uint32_t)>
void BM_Crc(benchmark::State& state) {
  const std::string data = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(Update(data.data(), static_cast<std::int64_t>(data.size()), korbu::kCrc32Start));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

void BM_CrcZlib(benchmark::State& state) {
  const std::string data = Buffer(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    benchmark::DoNotOptimize(crc32(0, reinterpret_cast<const Bytef*>(data.data()), static_cast<uInt>(data.size())));
  }
  state.SetBytesProcessed(state.iterations() * state.range(0));
}

BENCHMARK(BM_Crc<korbu::Crc32UpdateBytewise>)->Name("CrcBytewise")->Arg(64 << 10)->Arg(16 << 20);
BENCHMARK(BM_Crc<korbu::Crc32UpdateSlicing8>)->Name("CrcSlicing8")->Arg(64 << 10)->Arg(16 << 20);
BENCHMARK(BM_CrcZlib)->Name("CrcZlib")->Arg(64 << 10)->Arg(16 << 20);
BENCHMARK(BM_Crc<korbu::Crc32Update>)->Name("CrcKorbu")->Arg(64 << 10)->Arg(16 << 20);

// A 100 KiB "MZ" file without the pattern: the verdict reads it all.
const std::string& SampleFile() {
  static const std::string path = [] {
    auto file = std::filesystem::temp_directory_path() / "korbu-crc-bench.exe";
    std::string content = "MZ" + Buffer(100 * 1024 - 2);
    std::ofstream(file, std::ios::binary).write(content.data(), static_cast<std::streamsize>(content.size()));
    return file.string();
  }();
  return path;
}

void BM_ReadFile(benchmark::State& state) {
  const std::string& path = SampleFile();
  for (auto _ : state) {
    auto content = korbu::platform::ReadWholeFile(path, korbu::platform::ShareMode::DenyNone);
    if (!content) state.SkipWithError("cannot read the sample file");
    benchmark::DoNotOptimize(content);
  }
  state.SetBytesProcessed(state.iterations() * 100 * 1024);
}

void BM_ScanFile(benchmark::State& state) {
  const std::string& path = SampleFile();
  std::string verdict;
  for (auto _ : state) {
    benchmark::DoNotOptimize(korbu::ScanFile(path, verdict, nullptr, state.range(0) != 0));
  }
  state.SetBytesProcessed(state.iterations() * 100 * 1024);
}

BENCHMARK(BM_ReadFile)->Name("ReadFile100KiB");
BENCHMARK(BM_ScanFile)->Name("ScanFile100KiB")->Arg(1);
BENCHMARK(BM_ScanFile)->Name("ScanFile100KiBNoHeuristic")->Arg(0);

}  // namespace
