#include "platform/DurableFile.h"

#include <pwd.h>
#include <stdio.h>

#include <cstdlib>
#include <utility>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

using posix::RetryOnEintr;

int Fd(std::intptr_t handle) { return static_cast<int>(handle); }

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

}  // namespace

DurableFile::DurableFile(DurableFile&& other) noexcept : handle_(std::exchange(other.handle_, -1)) {}

DurableFile& DurableFile::operator=(DurableFile&& other) noexcept {
  if (this != &other) {
    if (handle_ >= 0) ::close(Fd(handle_));
    handle_ = std::exchange(other.handle_, -1);
  }
  return *this;
}

DurableFile::~DurableFile() {
  if (handle_ >= 0) ::close(Fd(handle_));
}

bool DurableFile::Write(std::string_view bytes) {
  std::size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = RetryOnEintr([&] { return ::write(Fd(handle_), bytes.data() + done, bytes.size() - done); });
    if (n <= 0) return false;
    done += static_cast<std::size_t>(n);
  }
  return true;
}

bool DurableFile::Sync() { return RetryOnEintr([&] { return ::fsync(Fd(handle_)); }) == 0; }

Status MakePrivateFolders(const std::string& path) {
  if (path.empty()) return Failure("no folder given", EINVAL);
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (S_ISDIR(st.st_mode)) return Ok();
    return Failure(path + " is not a folder", ENOTDIR);
  }
  const std::string parent = ParentOf(path);
  if (parent != path) {
    if (Status made = MakePrivateFolders(parent); !made) return made;
  }
  if (::mkdir(path.c_str(), 0700) == 0) return Ok();
  const Error failed = LastSystemError().Context(path);
  // Made by another meanwhile is as good.
  if (failed.code == EEXIST && ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return Ok();
  return failed;
}

std::string ProgramDataFolder() {
  // Only an absolute XDG_DATA_HOME counts, as for the Trash.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return std::string(data) + "/korbu";
  }
  std::string home;
  if (const char* env = std::getenv("HOME"); env != nullptr && env[0] == '/') {
    home = env;
  } else if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_dir != nullptr) {
    home = pw->pw_dir;
  }
  return home.empty() ? std::string() : home + "/.local/share/korbu";
}

}  // namespace korbu::platform
