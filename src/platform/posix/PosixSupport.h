#pragma once
// The only door to the POSIX headers for the POSIX backend, with its RAII helpers.

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdint>
#include <functional>
#include <string>

#include "platform/FileSystem.h"

namespace korbu::platform::posix {

/// Owns a file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  ~UniqueFd() { Reset(); }

  int Get() const { return fd_; }
  bool Valid() const { return fd_ >= 0; }
  int Release() {
    int fd = fd_;
    fd_ = -1;
    return fd;
  }
  void Reset(int fd = -1) {
    if (fd_ >= 0) ::close(fd_);
    fd_ = fd;
  }

 private:
  int fd_ = -1;
};

/// Retries a system call interrupted by a signal.
template <typename Call>
auto RetryOnEintr(Call call) {
  decltype(call()) result;
  do {
    result = call();
  } while (result == -1 && errno == EINTR);
  return result;
}

/// Opens a regular file for reading without blocking on FIFOs; -1 for anything else.
int OpenRegularFileForReading(const char* path);

/// The EntryInfo of a stat record, named.
EntryInfo EntryFromStat(const char* name, const struct stat& st);

/// Lists the open folder fd (taken over and closed; -1 fails with errno's reason) as ListFolder
/// does, or only its real subfolders as ListSubfolders does.
Status ListOpenFolder(int fd, const std::string& mask, const std::function<bool(const EntryInfo&)>& visit,
                      bool foldersOnly = false);

/// The user's home folder: HOME when it is an absolute path, else the password
/// database's; empty when neither names one.
std::string HomeFolder();

}  // namespace korbu::platform::posix
