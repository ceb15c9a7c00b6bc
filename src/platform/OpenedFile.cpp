// What every platform's open file shares: ownership moves with the object, and
// the platform's Close releases it.
#include "platform/OpenedFile.h"

#include <utility>

namespace korbu::platform {

OpenedFile::OpenedFile(OpenedFile&& other) noexcept
    : handle_(std::exchange(other.handle_, -1)),
      descriptor_(std::exchange(other.descriptor_, -1)),
      size_(other.size_),
      error_(std::move(other.error_)) {}

OpenedFile& OpenedFile::operator=(OpenedFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
    descriptor_ = std::exchange(other.descriptor_, -1);
    size_ = other.size_;
    error_ = std::move(other.error_);
  }
  return *this;
}

OpenedFile::~OpenedFile() { Close(); }

OpenedFile OpenedFile::Refused(std::string reason) {
  OpenedFile file;
  file.error_ = std::move(reason);
  return file;
}

}  // namespace korbu::platform
