#include "platform/posix/PathOwnership.h"

#include <string_view>

#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {
namespace {

bool WritableByOthers(const struct stat& st) { return (st.st_mode & (S_IWGRP | S_IWOTH)) != 0; }

std::string OwnerText(uid_t uid) { return "uid " + std::to_string(uid); }

Status Judge(const std::string& shown, const struct stat& st, uid_t owner, bool last, bool rootMayOwn) {
  if (S_ISLNK(st.st_mode)) return Failure(shown + " is a symbolic link");
  if (!last && !S_ISDIR(st.st_mode)) return Failure(shown + " is not a folder");
  const bool byOwner = st.st_uid == owner;
  const bool byRoot = st.st_uid == 0 && (rootMayOwn || !last);
  if (!byOwner && !byRoot)
    return Failure(shown + " belongs to " + OwnerText(st.st_uid) + ", not to " + OwnerText(owner));
  // Below a sticky folder of root's only an entry's owner may rename or remove
  // it; what lies below is checked in turn. The path itself must be closed.
  const bool stickyRootFolder = !last && S_ISDIR(st.st_mode) && st.st_uid == 0 && (st.st_mode & S_ISVTX) != 0;
  if (WritableByOthers(st) && !stickyRootFolder) return Failure(shown + " is writable by others");
  return Ok();
}

}  // namespace

Expected<struct stat> OnlyChangeableBy(const std::string& path, uid_t owner, bool rootMayOwn) {
  if (path.empty() || path.front() != '/') return Failure("\"" + path + "\" is not an absolute path");
  UniqueFd current(RetryOnEintr([] { return ::open("/", O_PATH | O_DIRECTORY | O_CLOEXEC); }));
  if (!current.Valid()) return LastSystemError().Context("/");
  struct stat st {};
  if (::fstat(current.Get(), &st) != 0) return LastSystemError().Context("/");
  std::string_view rest(path);
  std::string walked;
  const auto lastPart = [&] { return rest.find_first_not_of('/') == std::string_view::npos; };
  if (Status root = Judge("/", st, owner, lastPart(), rootMayOwn); !root) return root.error();
  while (!lastPart()) {
    rest.remove_prefix(rest.find_first_not_of('/'));
    const std::size_t cut = rest.find('/');
    const std::string part(rest.substr(0, cut));
    rest = cut == std::string_view::npos ? std::string_view() : rest.substr(cut);
    if (part == "." || part == "..") return Failure("\"" + path + "\" is not a plain path");
    walked += "/" + part;
    UniqueFd next(RetryOnEintr([&] { return ::openat(current.Get(), part.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC); }));
    if (!next.Valid()) return LastSystemError().Context(walked);
    if (::fstat(next.Get(), &st) != 0) return LastSystemError().Context(walked);
    if (Status judged = Judge(walked, st, owner, lastPart(), rootMayOwn); !judged) return judged.error();
    current = std::move(next);
  }
  return st;
}

}  // namespace korbu::platform::posix
