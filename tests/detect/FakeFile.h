#pragma once
// A file as a test wants it to behave while it is read: short reads, or a read
// error once some bytes have been delivered.

#include <algorithm>
#include <cstdint>
#include <string>

#include "detect/ByteSource.h"

namespace korbu::test {

class FakeFile : public ByteSource {
 public:
  explicit FakeFile(std::string bytes, std::size_t step = SIZE_MAX, std::int64_t failAt = -1)
      : bytes_(std::move(bytes)), step_(step), failAt_(failAt) {}
  std::int64_t Read(void* buffer, std::size_t count) override {
    if (failAt_ >= 0 && static_cast<std::int64_t>(position_) >= failAt_) return -1;
    std::size_t n = std::min({count, step_, bytes_.size() - position_});
    if (failAt_ >= 0) n = std::min(n, static_cast<std::size_t>(failAt_) - position_);
    std::copy_n(bytes_.data() + position_, n, static_cast<char*>(buffer));
    position_ += n;
    return static_cast<std::int64_t>(n);
  }
  std::size_t Position() const { return position_; }

 private:
  std::string bytes_;
  std::size_t step_;
  std::int64_t failAt_;
  std::size_t position_ = 0;
};

}  // namespace korbu::test
