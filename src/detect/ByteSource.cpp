#include "detect/ByteSource.h"

#include <algorithm>

namespace korbu {

std::int64_t MemoryByteSource::Read(void* buffer, std::size_t count) {
  const std::size_t n = std::min(count, bytes_.size() - position_);
  std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
  position_ += n;
  return static_cast<std::int64_t>(n);
}

}  // namespace korbu
