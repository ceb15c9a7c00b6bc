#include "RobustSupport.h"

#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

namespace korbu::test {
namespace fs = std::filesystem;

namespace {

constexpr uid_t kNobody = 65534;
constexpr int kExitPassed = 0;
constexpr int kExitFailed = 1;
constexpr int kExitCannotRun = 77;

int ExitCodeOf(const std::function<std::optional<bool>()>& check) {
  try {
    const std::optional<bool> passed = check();
    if (!passed) return kExitCannotRun;
    return *passed ? kExitPassed : kExitFailed;
  } catch (const std::exception& error) {
    std::fprintf(stderr, "unprivileged check threw: %s\n", error.what());
    return kExitFailed;
  }
}

}  // namespace

CheckRun RunUnprivileged(const std::string& folder, const std::function<std::optional<bool>()>& check) {
  auto asResult = [](int code) {
    if (code == kExitPassed) return CheckRun::Passed;
    if (code == kExitCannotRun) return CheckRun::CannotRun;
    return CheckRun::Failed;
  };
  if (::geteuid() != 0) return asResult(ExitCodeOf(check));

  // The child may then change and remove what is below the folder as its owner.
  std::error_code ec;
  if (::chown(folder.c_str(), kNobody, kNobody) != 0) return CheckRun::CannotRun;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
       it.increment(ec)) {
    if (::lchown(it->path().c_str(), kNobody, kNobody) != 0) return CheckRun::CannotRun;
  }
  std::fflush(nullptr);
  const pid_t child = ::fork();
  if (child < 0) return CheckRun::CannotRun;
  if (child == 0) {
    if (::setgroups(0, nullptr) != 0 || ::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) {
      ::_exit(kExitCannotRun);
    }
    const int code = ExitCodeOf(check);
    std::fflush(nullptr);
    ::_exit(code);
  }
  int status = 0;
  if (::waitpid(child, &status, 0) != child) return CheckRun::CannotRun;
  if (!WIFEXITED(status)) {
    std::fprintf(stderr, "unprivileged check ended by signal %d\n", WIFSIGNALED(status) ? WTERMSIG(status) : 0);
    return CheckRun::Failed;
  }
  return asResult(WEXITSTATUS(status));
}

FillableDisk::FillableDisk(const TempTree& tree) : folder_(tree.MakeDir("disk")) {
  mounted_ = ::mount("korbu-robust", folder_.c_str(), "tmpfs", 0, "size=256k") == 0;
}

FillableDisk::~FillableDisk() {
  Free();
  if (mounted_) ::umount2(folder_.c_str(), MNT_DETACH);
}

void FillableDisk::Fill(std::size_t spare) {
  if (!mounted_) {
    // Writing past the limit then fails with EFBIG instead of raising SIGXFSZ.
    std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = spare;
    limited_ = ::setrlimit(RLIMIT_FSIZE, &limit) == 0;
    return;
  }
  struct statvfs info {};
  if (::statvfs(folder_.c_str(), &info) != 0) return;
  const std::size_t free = static_cast<std::size_t>(info.f_bavail) * info.f_frsize;
  if (free <= spare) return;
  const int fd = ::open((folder_ + "/filler").c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
  if (fd < 0) return;
  const std::string block(4096, 'f');
  std::size_t left = free - spare;
  while (left > 0) {
    const std::size_t n = left < block.size() ? left : block.size();
    if (::write(fd, block.data(), n) != static_cast<ssize_t>(n)) break;
    left -= n;
  }
  ::close(fd);
}

void FillableDisk::Free() {
  if (limited_) {
    struct rlimit limit {};
    ::getrlimit(RLIMIT_FSIZE, &limit);
    limit.rlim_cur = limit.rlim_max;
    ::setrlimit(RLIMIT_FSIZE, &limit);
    std::signal(SIGXFSZ, SIG_DFL);
    limited_ = false;
  }
  std::error_code ec;
  fs::remove(folder_ + "/filler", ec);
}

}  // namespace korbu::test
