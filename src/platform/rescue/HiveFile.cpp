#include "platform/rescue/HiveFile.h"

#include "platform/SystemError.h"
#include "platform/WindowsSystem.h"
#include "platform/rescue/HiveImage.h"
#include "platform/rescue/RescueSupport.h"

namespace korbu::platform::rescue {

using posix::RetryOnEintr;
using posix::UniqueFd;

namespace {

constexpr const char* kLogSuffixes[] = {".LOG1", ".LOG2", ".LOG"};
constexpr std::uint64_t kMaxLogBytes = 1ULL << 30;

UniqueFd OpenRegular(const Folder& folder, const std::string& name) {
  const auto folderFd = static_cast<int>(folder.NativeHandle());
  return UniqueFd(RetryOnEintr([&] {
    return ::openat(folderFd, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  }));
}

}  // namespace

Expected<std::string> ReadWholeFile(int fd, std::uint64_t maxBytes) {
  std::string bytes;
  char chunk[1 << 16];
  for (;;) {
    const ssize_t got = RetryOnEintr([&] { return ::read(fd, chunk, sizeof chunk); });
    if (got < 0) return LastSystemError();
    if (got == 0) return bytes;
    if (bytes.size() + static_cast<std::size_t>(got) > maxBytes) return Failure("too large to be a hive", EFBIG);
    bytes.append(chunk, static_cast<std::size_t>(got));
  }
}

std::vector<std::string> HiveLogNames(const Folder& folder, const std::string& name) {
  std::vector<std::string> names;
  for (const char* suffix : kLogSuffixes) {
    std::string logName = SystemEntryName(folder, name + suffix);
    const auto entry = folder.Entry(logName);
    // A log larger than any the reader takes is no log of this hive.
    if (entry && entry->kind == EntryKind::Regular && entry->size <= kMaxLogBytes) {
      names.push_back(std::move(logName));
    }
  }
  return names;
}

Expected<LoadedHive> LoadHive(const Folder& folder, const std::string& name) {
  LoadedHive hive;
  hive.path = folder.PathOf(name);
  const std::string context = "cannot read the hive " + hive.path;
  UniqueFd fd = OpenRegular(folder, name);
  if (!fd.Valid()) return LastSystemError().Context(context);
  struct stat st {};
  if (::fstat(fd.Get(), &st) != 0) return LastSystemError().Context(context);
  if (!S_ISREG(st.st_mode)) return Failure("not a regular file").Context(context);
  hive.device = st.st_dev;
  hive.inode = st.st_ino;
  hive.mode = st.st_mode & 07777;
  hive.owner = st.st_uid;
  hive.group = st.st_gid;
  auto bytes = ReadWholeFile(fd.Get(), kMaxHiveBytes);
  if (!bytes) return bytes.error().Context(context);
  hive.original = std::move(*bytes);
  hive.file = std::move(fd);
  hive.bytes = hive.original;

  if (hive.bytes.size() < kBaseBlockBytes || hive.bytes.compare(0, 4, "regf") != 0) {
    hive.readable = Failure("the file " + hive.path + " is not a registry hive (too short or no signature)", kHiveDamaged);
    hive.writable = hive.readable;
    return hive;
  }
  hive.dirty = SequencesDiffer(hive.bytes) || !ChecksumRight(hive.bytes);
  if (hive.dirty) {
    for (const std::string& logName : HiveLogNames(folder, name)) {
      UniqueFd log = OpenRegular(folder, logName);
      struct stat logStat {};
      if (!log.Valid() || ::fstat(log.Get(), &logStat) != 0 || !S_ISREG(logStat.st_mode)) continue;
      auto logBytes = ReadWholeFile(log.Get(), kMaxLogBytes);
      if (logBytes) hive.logs.push_back({logName, std::move(*logBytes)});
    }
    auto replay = ReplayLogs(hive.bytes, hive.logs);
    if (!replay) {
      const std::string how = !ChecksumRight(hive.original)
                                  ? "has a bad checksum"
                                  : "is dirty (sequence numbers " +
                                        std::to_string(Le32At(hive.original, base::kPrimarySequence)) + " and " +
                                        std::to_string(Le32At(hive.original, base::kSecondarySequence)) + ")";
      hive.writable = Failure("the hive " + hive.path + " " + how + ": changes wait in its .LOG1/.LOG2 files, " +
                            (hive.logs.empty() ? std::string("which are missing") : "which cannot be replayed (" +
                                                                                         replay.Reason() + ")") +
                            "; start Windows and shut it down fully first", kHiveDamaged);
    } else {
      hive.replay = *replay;
    }
  }
  if (Status image = CheckHiveImage(hive.bytes); !image) {
    hive.readable = image.error().Context("the hive " + hive.path);
    if (hive.writable) hive.writable = hive.readable;
    return hive;
  }
  hive.bytes = TrimToBins(std::move(hive.bytes));
  return hive;
}

}  // namespace korbu::platform::rescue
