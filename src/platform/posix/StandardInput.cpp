// Standard input as a file that can be read at any offset, as a verdict reads.
#include <poll.h>


#include "platform/OpenedFile.h"
#include "platform/SystemError.h"
#include "platform/TemporaryFolder.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

// A file with no name in the temporary folder: nobody else can open it, and it
// is gone when closed, also when the program is killed.
posix::UniqueFd AnonymousFile(std::string& error) {
  posix::UniqueFd fd;
  const Expected<std::string> temporary = TemporaryFolder();
  if (!temporary) {
    error = temporary.error().reason;
    return fd;
  }
  const std::string& folder = *temporary;
  fd.Reset(::open(folder.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600));
  if (fd.Valid()) return fd;
  // Where the file system cannot make one, a private file removed at once.
  std::string name = folder + "/korbu-stdin-XXXXXX";
  fd.Reset(::mkostemp(name.data(), O_CLOEXEC));
  if (!fd.Valid()) {
    error = "cannot make a temporary file in " + folder + ": " + LastSystemError().reason;
    return fd;
  }
  ::unlink(name.c_str());
  return fd;
}

}  // namespace

OpenedFile OpenedFile::FromStandardInput(std::uint64_t maxBytes, const std::function<bool()>& stop) {
  OpenedFile file;
  posix::UniqueFd fd = AnonymousFile(file.error_);
  if (!fd.Valid()) return file;
  char buffer[65536];
  std::uint64_t total = 0;
  while (maxBytes == 0 || total < maxBytes) {
    pollfd input{STDIN_FILENO, POLLIN, 0};
    const int ready = ::poll(&input, 1, 200);
    if (ready < 0 && errno != EINTR) {
      file.error_ = "standard input: " + LastSystemError().reason;
      return file;
    }
    if (stop && stop()) {
      file.error_ = "stopped";
      return file;
    }
    if (ready <= 0) continue;
    std::size_t want = sizeof buffer;
    if (maxBytes != 0 && maxBytes - total < want) want = static_cast<std::size_t>(maxBytes - total);
    const ssize_t got = ::read(STDIN_FILENO, buffer, want);
    if (got < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (got < 0) {
      file.error_ = "standard input: " + LastSystemError().reason;
      return file;
    }
    if (got == 0) break;
    for (ssize_t done = 0; done < got;) {
      const ssize_t put = posix::RetryOnEintr([&] { return ::write(fd.Get(), buffer + done, static_cast<std::size_t>(got - done)); });
      if (put < 0) {
        file.error_ = "cannot keep standard input in a temporary file: " + LastSystemError().reason;
        return file;
      }
      done += put;
    }
    total += static_cast<std::uint64_t>(got);
  }
  file.size_ = total;
  file.handle_ = fd.Release();
  return file;
}

}  // namespace korbu::platform
