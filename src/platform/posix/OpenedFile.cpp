#include "platform/OpenedFile.h"

#include <system_error>
#include <utility>

#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

constexpr char kNotRegular[] = "not a regular file";

std::string ErrorText(int error) {
  // With O_NOFOLLOW a link in the last component fails with ELOOP.
  if (error == ELOOP) return kNotRegular;
  return std::generic_category().message(error);
}

}  // namespace

OpenedFile OpenedFile::Open(const std::string& path) {
  OpenedFile file;
  posix::UniqueFd fd(posix::RetryOnEintr(
      [&] { return ::open(path.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY); }));
  if (!fd.Valid()) {
    file.error_ = ErrorText(errno);
    return file;
  }
  return Adopt(fd.Release());
}

OpenedFile OpenedFile::Adopt(int descriptor) {
  OpenedFile file;
  posix::UniqueFd fd(descriptor);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) {
    file.error_ = ErrorText(errno);
    return file;
  }
  if (!S_ISREG(st.st_mode)) {
    file.error_ = kNotRegular;
    return file;
  }
  file.size_ = static_cast<std::uint64_t>(st.st_size);
  file.handle_ = fd.Release();
  return file;
}

void OpenedFile::Close() {
  if (handle_ >= 0) ::close(static_cast<int>(handle_));
  handle_ = -1;
  descriptor_ = -1;
}

bool OpenedFile::IsOpen() const { return handle_ >= 0; }

std::int64_t OpenedFile::ReadAt(void* buffer, std::size_t count, std::uint64_t offset) {
  if (handle_ < 0) return -1;
  const int fd = static_cast<int>(handle_);
  const ssize_t got =
      posix::RetryOnEintr([&] { return ::pread(fd, buffer, count, static_cast<off_t>(offset)); });
  if (got < 0) error_ = ErrorText(errno);
  return got;
}

// The file's own descriptor: nothing to make.
int OpenedFile::Descriptor() { return handle_ >= 0 ? static_cast<int>(handle_) : -1; }

}  // namespace korbu::platform
