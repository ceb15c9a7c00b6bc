#include "platform/posix/InsideRoot.h"

#include <linux/openat2.h>
#include <sys/syscall.h>

#include <cstdlib>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {
namespace {

std::string PathOfDescriptor(int fd) {
  const std::string link = "/proc/self/fd/" + std::to_string(fd);
  std::vector<char> buffer(4096);
  for (;;) {
    const ssize_t n = ::readlink(link.c_str(), buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

bool Below(const std::string& path, const std::string& root) {
  if (path == root) return true;
  const std::string folder = root == "/" ? root : root + "/";
  return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0;
}

// Without openat2: the links followed the ordinary way, and refused when they
// lead out.
std::string RealFolderBelow(const std::string& path, const std::string& root) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  if (!real) return {};
  struct stat st {};
  if (::stat(real.get(), &st) != 0 || !S_ISDIR(st.st_mode) || !Below(real.get(), root)) return {};
  return real.get();
}

// The path below root (or below its real form) as relative to it; empty when it
// is not below.
std::optional<std::string> RelativeTo(const std::string& path, const std::string& root, const std::string& realRoot) {
  std::string relative;
  if (Below(path, root)) {
    relative = path.substr(std::min(path.size(), root.size()));
  } else if (Below(path, realRoot)) {
    relative = path.substr(realRoot.size());
  } else {
    return std::nullopt;
  }
  while (!relative.empty() && relative.front() == '/') relative.erase(0, 1);
  if (relative.empty()) relative = ".";
  return relative;
}

}  // namespace

OpenedFile OpenFileInsideRoot(const std::string& root, const std::string& path) {
  const auto refused = [&] { return OpenedFile::Refused("it leads out of " + root); };
  UniqueFd rootFd(RetryOnEintr([&] { return ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!rootFd.Valid()) return refused();
  const std::string realRoot = PathOfDescriptor(rootFd.Get());
  const auto relative = realRoot.empty() ? std::nullopt : RelativeTo(path, root, realRoot);
  if (!relative) return refused();
  open_how how{};
  how.flags = O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  const int fd = static_cast<int>(RetryOnEintr(
      [&] { return ::syscall(SYS_openat2, rootFd.Get(), relative->c_str(), &how, sizeof how); }));
  if (fd >= 0) return OpenedFile::Adopt(fd);
  if (errno == EXDEV || errno == ELOOP) return OpenedFile::Refused(errno == EXDEV ? "it leads out of " + root : "not a regular file");
  if (errno != ENOSYS) return OpenedFile::Refused(std::generic_category().message(errno));
  OpenedFile file = OpenedFile::Open(path);
  if (file.IsOpen() && !Below(PathOfDescriptor(file.Descriptor()), realRoot)) return refused();
  return file;
}

std::string FolderInsideRoot(const std::string& root, const std::string& path) {
  UniqueFd rootFd(RetryOnEintr([&] { return ::open(root.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!rootFd.Valid()) return {};
  const std::string realRoot = PathOfDescriptor(rootFd.Get());
  if (realRoot.empty()) return {};
  const auto relative = RelativeTo(path, root, realRoot);
  if (!relative) return {};
  open_how how{};
  how.flags = O_PATH | O_DIRECTORY | O_CLOEXEC;
  how.resolve = RESOLVE_IN_ROOT | RESOLVE_NO_MAGICLINKS;
  UniqueFd fd(static_cast<int>(RetryOnEintr(
      [&] { return ::syscall(SYS_openat2, rootFd.Get(), relative->c_str(), &how, sizeof how); })));
  if (!fd.Valid()) return errno == ENOSYS ? RealFolderBelow(path, realRoot) : std::string();
  std::string resolved = PathOfDescriptor(fd.Get());
  return Below(resolved, realRoot) ? resolved : std::string();
}

}  // namespace korbu::platform::posix
