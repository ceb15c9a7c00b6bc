#include "platform/posix/ProcessImage.h"

#include <charconv>
#include <vector>

#include "platform/AsciiCase.h"
#include "platform/posix/PosixSupport.h"

namespace korbu::platform::posix {
namespace {

constexpr std::string_view kDeletedMark = " (deleted)";


std::string_view AfterLast(std::string_view text, std::string_view delimiters) {
  std::size_t cut = text.find_last_of(delimiters);
  return cut == std::string_view::npos ? text : text.substr(cut + 1);
}

template <typename Number>
bool ParseNumber(std::string_view text, Number& value, int base = 10) {
  const char* end = text.data() + text.size();
  auto [stop, error] = std::from_chars(text.data(), end, value, base);
  return error == std::errc() && stop == end && !text.empty();
}

// Splits off the next blank-separated word of text.
std::string_view NextWord(std::string_view& text) {
  std::size_t start = text.find_first_not_of(' ');
  if (start == std::string_view::npos) {
    text = {};
    return {};
  }
  std::size_t stop = text.find(' ', start);
  std::string_view word = text.substr(start, stop == std::string_view::npos ? std::string_view::npos : stop - start);
  text = stop == std::string_view::npos ? std::string_view() : text.substr(stop);
  return word;
}

std::string ReadLinkAt(int dir, const char* name) {
  std::vector<char> buffer(256);
  while (true) {
    ssize_t n = ::readlinkat(dir, name, buffer.data(), buffer.size());
    if (n < 0) return {};
    if (static_cast<std::size_t>(n) < buffer.size()) return std::string(buffer.data(), static_cast<std::size_t>(n));
    buffer.resize(buffer.size() * 2);
  }
}

}  // namespace

std::optional<ProcStat> ParseProcStat(std::string_view line) {
  std::size_t close = line.rfind(')');
  if (close == std::string_view::npos) return std::nullopt;
  std::string_view rest = line.substr(close + 1);
  // Words after the name, counted from the state (field 3 of the line).
  std::vector<std::string_view> words;
  while (words.size() < 18) {
    std::string_view word = NextWord(rest);
    if (word.empty()) return std::nullopt;
    words.push_back(word);
  }
  if (!words.back().empty() && words.back().back() == '\n') words.back().remove_suffix(1);
  ProcStat stat;
  if (!ParseNumber(words[1], stat.parent) || !ParseNumber(words[6], stat.flags) || !ParseNumber(words[15], stat.priority) ||
      !ParseNumber(words[17], stat.threadCount)) {
    return std::nullopt;
  }
  return stat;
}

std::string StripDeletedMark(std::string path, const std::function<bool(const std::string&)>& isTheFile) {
  if (path.ends_with(kDeletedMark) && !isTheFile(path)) path.resize(path.size() - kDeletedMark.size());
  return path;
}

std::optional<MappedFileLine> FindMappedFile(std::string_view maps, std::string_view fileName) {
  while (!maps.empty()) {
    std::size_t stop = maps.find('\n');
    std::string_view line = maps.substr(0, stop);
    maps = stop == std::string_view::npos ? std::string_view() : maps.substr(stop + 1);

    NextWord(line);  // address range
    NextWord(line);  // permissions
    NextWord(line);  // offset
    std::string_view device = NextWord(line);
    std::string_view inode = NextWord(line);
    std::size_t start = line.find_first_not_of(' ');
    if (start == std::string_view::npos || line[start] != '/') continue;
    std::string_view path = line.substr(start);

    std::string_view name = AfterLast(path, "/");
    if (name.ends_with(kDeletedMark) && !EqualsIgnoringCase(name, fileName)) name.remove_suffix(kDeletedMark.size());
    if (!EqualsIgnoringCase(name, fileName)) continue;

    MappedFileLine found;
    found.path = std::string(path);
    std::size_t colon = device.find(':');
    if (colon == std::string_view::npos || !ParseNumber(device.substr(0, colon), found.devMajor, 16) ||
        !ParseNumber(device.substr(colon + 1), found.devMinor, 16) || !ParseNumber(inode, found.inode)) {
      continue;
    }
    return found;
  }
  return std::nullopt;
}

std::string ExecutablePath(int procDir) { return ReadLinkAt(procDir, "exe"); }

std::string ReadProcessImage(int procDir) {
  std::string exe = ReadLinkAt(procDir, "exe");
  if (exe.empty()) return {};
  return StripDeletedMark(std::move(exe), [&](const std::string& path) {
    struct stat image {};
    struct stat named {};
    return ::fstatat(procDir, "exe", &image, 0) == 0 && ::lstat(path.c_str(), &named) == 0 &&
           image.st_dev == named.st_dev && image.st_ino == named.st_ino;
  });
}

std::optional<std::string> ReadProcFile(int procDir, const char* name) {
  UniqueFd fd(RetryOnEintr([&] { return ::openat(procDir, name, O_RDONLY | O_CLOEXEC); }));
  if (!fd.Valid()) return std::nullopt;
  std::string content;
  char chunk[16384];
  while (true) {
    ssize_t got = RetryOnEintr([&] { return ::read(fd.Get(), chunk, sizeof chunk); });
    if (got < 0) return std::nullopt;
    if (got == 0) return content;
    content.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace korbu::platform::posix
