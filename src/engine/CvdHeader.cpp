#include "engine/CvdHeader.h"

#include <cstddef>
#include <vector>

#include "platform/FileSystem.h"
#include "services/TextUtils.h"

namespace korbu {
namespace {

constexpr std::size_t kHeaderSize = 512;
constexpr std::size_t kDateLength = 11;  // "DD Mon YYYY"

}  // namespace

CvdHeaderInfo ParseCvdHeader(const std::string& header) {
  std::vector<std::string> fields;
  SplitText(header, ':', fields);
  CvdHeaderInfo info;
  if (fields.size() > 1) info.date = fields[1].substr(0, kDateLength);
  if (fields.size() > 2) info.version = fields[2];
  return info;
}

CvdHeaderInfo ReadCvdHeader(const std::string& path) {
  auto file = platform::InputFile::Open(path, platform::ShareMode::DenyNone);
  if (!file) return {};
  std::string header(kHeaderSize, '\0');
  std::size_t filled = 0;
  while (filled < kHeaderSize) {
    std::int64_t n = file->Read(header.data() + filled, kHeaderSize - filled);
    if (n <= 0) break;
    filled += static_cast<std::size_t>(n);
  }
  // A file too short to hold a header is not a database.
  if (filled < kHeaderSize) return {};
  return ParseCvdHeader(header);
}

}  // namespace korbu
