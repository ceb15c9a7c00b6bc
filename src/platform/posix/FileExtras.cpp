#include "platform/FileExtras.h"

#include <sys/xattr.h>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

using posix::RetryOnEintr;
using posix::UniqueFd;

// How ntfs-3g shows what NTFS keeps beside a file's content.
constexpr const char* kNtfsExtras[] = {"system.ntfs_acl", "system.ntfs_attrib"};

Expected<UniqueFd> OpenEntry(const Folder& folder, const std::string& name) {
  const auto folderFd = static_cast<int>(folder.NativeHandle());
  UniqueFd fd(RetryOnEintr(
      [&] { return ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC); }));
  if (!fd.Valid()) return LastSystemError().Context("cannot open " + folder.PathOf(name));
  return fd;
}

}  // namespace

Expected<FileExtras> ReadFileExtras(const Folder& folder, const std::string& name) {
  auto fd = OpenEntry(folder, name);
  if (!fd) return fd.error();
  FileExtras extras;
  for (const char* attribute : kNtfsExtras) {
    const ssize_t size = ::fgetxattr(fd->Get(), attribute, nullptr, 0);
    if (size < 0) {
      if (errno == ENODATA || errno == ENOTSUP) continue;
      return LastSystemError().Context(std::string("cannot read ") + attribute + " of " + folder.PathOf(name));
    }
    std::string value(static_cast<std::size_t>(size), '\0');
    const ssize_t got = ::fgetxattr(fd->Get(), attribute, value.data(), value.size());
    if (got < 0) {
      return LastSystemError().Context(std::string("cannot read ") + attribute + " of " + folder.PathOf(name));
    }
    value.resize(static_cast<std::size_t>(got));
    extras.emplace_back(attribute, std::move(value));
  }
  return extras;
}

Status GiveFileExtras(const Folder& folder, const std::string& name, const FileExtras& extras) {
  if (extras.empty()) return Ok();
  auto fd = OpenEntry(folder, name);
  if (!fd) return fd.error();
  for (const auto& [attribute, value] : extras) {
    if (::fsetxattr(fd->Get(), attribute.c_str(), value.data(), value.size(), 0) != 0) {
      return LastSystemError().Context("cannot set " + attribute + " of " + folder.PathOf(name));
    }
  }
  return Ok();
}

}  // namespace korbu::platform
