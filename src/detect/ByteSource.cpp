#include "detect/ByteSource.h"

#include <algorithm>

namespace korbu {

std::int64_t OpenedFileByteSource::Read(void* buffer, std::size_t count) {
  const std::int64_t got = file_.ReadAt(buffer, count, offset_);
  if (got > 0) offset_ += static_cast<std::uint64_t>(got);
  return got;
}

std::int64_t MemoryByteSource::Read(void* buffer, std::size_t count) {
  const std::size_t n = std::min(count, bytes_.size() - position_);
  std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
  position_ += n;
  return static_cast<std::int64_t>(n);
}

}  // namespace korbu
