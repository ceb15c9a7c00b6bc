// The freedesktop.org Trash: $XDG_DATA_HOME/Trash for the home's file system,
// $topdir/.Trash/$uid or $topdir/.Trash-$uid for any other, each with files/ and
// info/. An item is recorded in info/ (created exclusively, so two trashings never
// take the same name) before it is renamed into files/.
#include "platform/Trash.h"
#include "platform/HexText.h"

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <memory>
#include <optional>

#include "platform/FolderHandle.h"
#include "platform/Path.h"
#include "platform/SystemError.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform {
namespace {

constexpr std::size_t kMaxNameBytes = 255;  // NAME_MAX of the usual file systems
constexpr std::string_view kInfoSuffix = ".trashinfo";
constexpr int kMaxNameAttempts = 10000;

std::string HomeTrash() {
  // Only an absolute XDG_DATA_HOME counts; a relative one is ignored.
  if (const char* data = std::getenv("XDG_DATA_HOME"); data != nullptr && data[0] == '/') {
    return std::string(data) + "/Trash";
  }
  const std::string home = posix::HomeFolder();
  return home.empty() ? std::string() : home + "/.local/share/Trash";
}

std::string ParentOf(const std::string& path) {
  const auto slash = path.find_last_of('/');
  if (slash == std::string::npos || slash == 0) return "/";
  return path.substr(0, slash);
}

std::string Join(const std::string& folder, std::string_view name) {
  return folder == "/" ? "/" + std::string(name) : folder + "/" + std::string(name);
}

std::string RealPath(const std::string& path) {
  std::unique_ptr<char, decltype(&std::free)> real(::realpath(path.c_str(), nullptr), &std::free);
  return real ? std::string(real.get()) : std::string();
}

// The file system of a path, or of its nearest ancestor that can be examined (so
// a broken home trash still counts as the home's and is never bypassed).
std::optional<dev_t> DeviceOf(std::string path) {
  while (true) {
    struct stat st {};
    if (::stat(path.c_str(), &st) == 0) return st.st_dev;
    if (path == "/") return std::nullopt;
    path = ParentOf(path);
  }
}

// The top folder of the file system that holds a (canonical) folder.
std::string MountPointOf(std::string folder) {
  struct stat st {};
  if (::stat(folder.c_str(), &st) != 0) return {};
  while (folder != "/") {
    const std::string parent = ParentOf(folder);
    struct stat up {};
    if (::stat(parent.c_str(), &up) != 0 || up.st_dev != st.st_dev) break;
    folder = parent;
  }
  return folder;
}

// Makes a folder and its missing parents, private to the user.
bool MakeFolders(const std::string& path) {
  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) return S_ISDIR(st.st_mode);
  if (path != "/" && !MakeFolders(ParentOf(path))) return false;
  return ::mkdir(path.c_str(), 0700) == 0 || errno == EEXIST;
}

// A real folder (not a link) that belongs to the user.
bool IsOwnFolder(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && st.st_uid == ::getuid();
}

// Makes the trash with its files/ and info/ when missing and checks that each is a
// real folder of the user on the item's file system.
bool PrepareTrash(const std::string& trash, dev_t device) {
  if (::mkdir(trash.c_str(), 0700) != 0 && errno != EEXIST) return false;
  if (!IsOwnFolder(trash)) return false;
  for (const char* sub : {"/files", "/info"}) {
    const std::string folder = trash + sub;
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST) return false;
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || st.st_dev != device) return false;
  }
  return true;
}

struct TrashPlace {
  std::string folder;
  std::string topdir;  // empty for the home trash, whose records hold absolute paths
};

std::optional<TrashPlace> ChooseTrash(const std::string& parent, dev_t device) {
  const std::string home = HomeTrash();
  if (!home.empty()) {
    if (const auto homeDevice = DeviceOf(home); homeDevice && *homeDevice == device) {
      if (MakeFolders(ParentOf(home)) && PrepareTrash(home, device)) return TrashPlace{home, {}};
      return std::nullopt;
    }
  }
  const std::string topdir = MountPointOf(parent);
  if (topdir.empty()) return std::nullopt;
  const std::string uid = std::to_string(::getuid());
  // An administrator's shared trash counts only as a sticky real folder.
  const std::string shared = Join(topdir, ".Trash");
  struct stat st {};
  if (::lstat(shared.c_str(), &st) == 0 && S_ISDIR(st.st_mode) && (st.st_mode & S_ISVTX) != 0) {
    const std::string own = shared + "/" + uid;
    if (PrepareTrash(own, device)) return TrashPlace{own, topdir};
  }
  const std::string own = Join(topdir, ".Trash-" + uid);
  if (PrepareTrash(own, device)) return TrashPlace{own, topdir};
  return std::nullopt;
}

// Bytes outside the unreserved set (and '/') become %XX, as in URLs.
std::string PercentEncode(std::string_view path) {
  std::string out;
  for (char c : path) {
    const auto byte = static_cast<unsigned char>(c);
    const bool keep = (byte >= 'A' && byte <= 'Z') || (byte >= 'a' && byte <= 'z') ||
                      (byte >= '0' && byte <= '9') || c == '-' || c == '_' || c == '.' || c == '~' ||
                      c == '/';
    if (keep) {
      out.push_back(c);
    } else {
      out.push_back('%');
      AppendHexByte(out, byte, true);
    }
  }
  return out;
}

std::string LocalDeletionDate() {
  const std::time_t now = std::time(nullptr);
  std::tm local {};
  if (::localtime_r(&now, &local) == nullptr) return {};
  char text[32];
  const std::size_t n = std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return std::string(text, n);
}

// The name in the trash for an attempt: the item's own name first, then with a
// number; cut so that its record's name still fits the file system.
std::string TrashName(const std::string& name, int attempt) {
  const std::string suffix = attempt == 1 ? std::string() : "." + std::to_string(attempt);
  const std::size_t room = kMaxNameBytes - kInfoSuffix.size() - suffix.size();
  return name.substr(0, room) + suffix;
}

bool IsSameOrInside(const std::string& path, const std::string& folder) {
  return path == folder || (path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
                            (folder == "/" || path[folder.size()] == '/'));
}

}  // namespace

Expected<std::string> MoveToTrash(const std::string& path) {
  // The item's folder is held from here on: a folder on its path swapped for a
  // link later cannot send the move anywhere else.
  const auto parent = OpenParent(path);
  if (!parent) return parent.error();
  return MoveToTrash(parent->first, parent->second);
}

Expected<std::string> MoveToTrash(const Folder& folder, const std::string& name) {
  if (name.empty() || name == "." || name == ".." || name.find_first_of(std::string("/\0", 2)) != std::string::npos) {
    return Failure("not the name of an entry of its folder");
  }
  // Opened without links, so its path is the canonical one.
  std::string item = folder.PathOf(name);
  while (item.size() > 1 && item.back() == '/') item.pop_back();

  struct stat st {};
  if (::fstatat(static_cast<int>(folder.NativeHandle()), name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) {
    return LastSystemError();
  }
  const auto place = ChooseTrash(ParentOf(item), st.st_dev);
  if (!place) return Failure("no trash of the user's can be had on its file system");
  const std::string trashFolder = RealPath(place->folder);
  if (trashFolder.empty()) return LastSystemError().Context("the trash");
  // Neither the trash itself, nor a folder that holds it, nor what is already in it.
  if (IsSameOrInside(trashFolder, item) || IsSameOrInside(item, trashFolder)) {
    return Failure("it is the trash, holds it or is in it");
  }
  const auto trash = Folder::Open(trashFolder);
  if (!trash) return trash.error();
  const auto files = trash->Child("files");
  const auto infos = trash->Child("info");
  if (!files || !infos || !files->SameVolume(folder)) return Failure("the trash has changed while it was being used");

  std::string recorded = item;
  if (!place->topdir.empty()) recorded = place->topdir == "/" ? item.substr(1) : item.substr(place->topdir.size() + 1);
  const std::string info = "[Trash Info]\nPath=" + PercentEncode(recorded) +
                           "\nDeletionDate=" + LocalDeletionDate() + "\n";

  for (int attempt = 1; attempt <= kMaxNameAttempts; ++attempt) {
    const std::string trashName = TrashName(name, attempt);
    const std::string infoName = trashName + std::string(kInfoSuffix);
    // Created exclusively: the record reserves the name against other trashers.
    if (const Status reserved = infos->CreateNewFile(infoName, info); !reserved) {
      if (reserved.error().kind == ErrorKind::NameTaken) continue;
      return reserved.error().Context("the trash's record cannot be written");
    }
    const Status moved = folder.MoveTo(name, *files, trashName);
    if (moved) return trashFolder + "/files/" + trashName;
    (void)infos->DeleteFile(infoName);  // a record of no move: at worst a stale line in the Trash
    if (moved.error().kind != ErrorKind::NameTaken) return moved.error();
  }
  return Failure("every name for it in the trash is taken");
}

}  // namespace korbu::platform
