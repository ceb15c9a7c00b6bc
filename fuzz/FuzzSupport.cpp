#include "FuzzSupport.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>

namespace korbu::fuzz {

void Check(bool condition, const char* what) {
  if (condition) return;
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  std::abort();
}

std::string_view InputSplitter::Part() {
  if (rest_.empty()) return {};
  std::size_t length = static_cast<unsigned char>(rest_.front());
  rest_.remove_prefix(1);
  length = std::min(length, rest_.size());
  std::string_view part = rest_.substr(0, length);
  rest_.remove_prefix(length);
  return part;
}

unsigned char InputSplitter::Byte() {
  if (rest_.empty()) return 0;
  auto byte = static_cast<unsigned char>(rest_.front());
  rest_.remove_prefix(1);
  return byte;
}

const std::string& WriteScratchFile(std::string_view bytes) {
  static const std::string path = [] {
    std::random_device random;
    const char* dir = std::getenv("TMPDIR");
    return std::string(dir && *dir ? dir : "/tmp") + "/korbu-fuzz-" + std::to_string(random()) +
           ".bin";
  }();
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  Check(out.good(), "scratch file written");
  return path;
}

}  // namespace korbu::fuzz
