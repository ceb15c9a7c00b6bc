// What every platform's shared file and lock share: ownership moves with the
// object, and the platform's Close releases it; the lock waits in short steps.
#include "platform/SharedFile.h"

#include <thread>
#include <utility>

namespace korbu::platform {

SharedFile::SharedFile(SharedFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

SharedFile& SharedFile::operator=(SharedFile&& other) noexcept {
  if (this != &other) {
    Close();
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

SharedFile::~SharedFile() { Close(); }

Expected<FileLock> FileLock::Acquire(const std::string& path, std::chrono::milliseconds wait) {
  Expected<SharedFile> file = SharedFile::Open(path, true);
  if (!file) return file.error().Context(path);
  const auto until = std::chrono::steady_clock::now() + wait;
  for (;;) {
    Expected<bool> taken = TryLock(*file);
    if (!taken) return taken.error().Context(path);
    if (*taken) return FileLock(std::move(*file));
    if (std::chrono::steady_clock::now() >= until) return Failure("held by another scan").Context(path);
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
}

}  // namespace korbu::platform
