#include "platform/wine/WineProcessImage.h"

#include <sys/sysmacros.h>

#include <memory>

#include "platform/AsciiCase.h"
#include "platform/posix/PosixSupport.h"
#include "platform/posix/ProcessImage.h"

namespace korbu::platform::wine {

using posix::FindMappedFile;
using posix::MappedFileLine;
using posix::ReadProcFile;
using posix::StripDeletedMark;
namespace {

// The last part of a path, after any of the separators.
std::string_view NameAfter(std::string_view path, std::string_view separators) {
  const std::size_t cut = path.find_last_of(separators);
  return cut == std::string_view::npos ? path : path.substr(cut + 1);
}

// Wine names its prefix in the environment of each process it starts.
std::string WinePrefixOf(int procDir) {
  auto environment = ReadProcFile(procDir, "environ");
  if (!environment) return {};
  std::string home;
  std::string_view rest = *environment;
  while (!rest.empty()) {
    std::size_t stop = rest.find('\0');
    std::string_view entry = rest.substr(0, stop);
    rest = stop == std::string_view::npos ? std::string_view() : rest.substr(stop + 1);
    if (entry.starts_with("WINEPREFIX=") && entry.size() > 11 && entry[11] == '/') {
      return std::string(entry.substr(11));
    }
    if (entry.starts_with("HOME=")) home = entry.substr(5);
  }
  return home.empty() ? std::string() : home + "/.wine";
}

bool IsSameFile(const std::string& path, const MappedFileLine& line) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_ino == line.inode &&
         major(st.st_dev) == line.devMajor && minor(st.st_dev) == line.devMinor;
}

// The entry of folder whose name equals part, the exact name first, then
// ignoring ASCII case; empty when there is none.
std::string FindEntryIgnoringCase(const std::string& folder, std::string_view part) {
  std::string exact = folder + "/" + std::string(part);
  struct stat st {};
  if (::stat(exact.c_str(), &st) == 0) return exact;
  std::unique_ptr<DIR, int (*)(DIR*)> dir(::opendir(folder.c_str()), ::closedir);
  if (!dir) return {};
  while (const dirent* entry = ::readdir(dir.get())) {
    if (EqualsIgnoringCase(entry->d_name, part)) return folder + "/" + entry->d_name;
  }
  return {};
}

}  // namespace

std::string WineProgramImage(int procDir) {
  auto cmdline = ReadProcFile(procDir, "cmdline");
  if (!cmdline || cmdline->empty()) return {};
  std::string first = cmdline->substr(0, cmdline->find('\0'));
  std::string name = WineProgramName(first);
  if (name.empty()) return {};

  // The program's own file is mapped into the process; that mapping is the
  // native file even when the command line holds a Windows path.
  if (auto maps = ReadProcFile(procDir, "maps")) {
    auto line = FindMappedFile(*maps, name);
    if (!line && name.find('.') == std::string::npos) line = FindMappedFile(*maps, name + ".exe");
    if (line) {
      return StripDeletedMark(line->path, [&](const std::string& path) { return IsSameFile(path, *line); });
    }
  }
  if (first.front() == '/') return FileExists(first) ? first : std::string();
  std::string prefix = WinePrefixOf(procDir);
  return prefix.empty() ? std::string() : MapWindowsPathInPrefix(first, prefix);
}

bool IsWineLoader(std::string_view exePath) {
  std::string_view name = NameAfter(exePath, "/");
  return name == "wine" || name == "wine64" || name == "wine-preloader" || name == "wine64-preloader";
}

std::string WineProgramName(std::string_view firstArgument) {
  return std::string(NameAfter(firstArgument, "\\/"));
}

std::string MapWindowsPathInPrefix(std::string_view windowsPath, const std::string& prefix) {
  if (windowsPath.size() < 3 || windowsPath[1] != ':' || (windowsPath[2] != '\\' && windowsPath[2] != '/')) return {};
  char drive = AsciiLower(windowsPath[0]);
  if (drive < 'a' || drive > 'z') return {};
  std::string current = prefix + "/dosdevices/" + drive + ":";
  std::string_view rest = windowsPath.substr(3);
  while (!rest.empty()) {
    std::size_t stop = rest.find_first_of("\\/");
    std::string_view part = rest.substr(0, stop);
    rest = stop == std::string_view::npos ? std::string_view() : rest.substr(stop + 1);
    if (part.empty() || part == ".") continue;
    if (part == "..") return {};  // never climb out of the drive
    current = FindEntryIgnoringCase(current, part);
    if (current.empty()) return {};
  }
  struct stat st {};
  return ::stat(current.c_str(), &st) == 0 && S_ISREG(st.st_mode) ? current : std::string();
}

}  // namespace korbu::platform::wine
