#pragma once
// Reading one process out of /proc: its stat line and the program it runs (a
// Windows program under Wine is read by WineProcessImage.h). The text helpers
// are pure so that the odd shapes /proc can take are testable.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace korbu::platform::posix {

/// The fields of /proc/PID/stat that the process table needs.
struct ProcStat {
  std::uint32_t parent = 0;  // the parent's process id
  std::int32_t priority = 0;
  std::int32_t threadCount = 0;
  std::uint32_t flags = 0;  // the kernel's PF_* bits
};

/// The kernel's flag of a kernel thread.
inline constexpr std::uint32_t kKernelThreadFlag = 0x00200000;

/// Parses a /proc/PID/stat line. The command name between the parentheses may
/// itself hold blanks and parentheses, so the fields are counted from the last
/// ")". Empty when the line is cut short or a field is not a number.
std::optional<ProcStat> ParseProcStat(std::string_view line);

/// Removes the " (deleted)" that the kernel appends to the path of a file that
/// has been unlinked. isTheFile tells whether a file of the exact name read is the
/// one meant; then the name really ends that way and is kept whole.
std::string StripDeletedMark(std::string path, const std::function<bool(const std::string&)>& isTheFile);

/// A file mapping read from /proc/PID/maps.
struct MappedFileLine {
  std::string path;  // as the kernel shows it, " (deleted)" mark included
  std::uint32_t devMajor = 0;
  std::uint32_t devMinor = 0;
  std::uint64_t inode = 0;
};

/// The first mapping in a /proc/PID/maps text of a file whose name (the part
/// after the last '/') equals fileName ignoring ASCII letter case.
std::optional<MappedFileLine> FindMappedFile(std::string_view maps, std::string_view fileName);

/// The program file the process whose /proc folder is open as procDir runs (its
/// exe link, a deleted file's mark taken off; the loader for a Wine program).
/// Reads through the folder descriptor, so all parts come from the same process
/// even if its id is reused meanwhile.
std::string ReadProcessImage(int procDir);

/// The target of the process's exe link (the loader for a Wine program); empty
/// when it cannot be read.
std::string ExecutablePath(int procDir);

/// Reads a whole file below an open /proc folder; empty when it cannot be read.
std::optional<std::string> ReadProcFile(int procDir, const char* name);

}  // namespace korbu::platform::posix
