#pragma once
// Recovery of a dirty hive from its transaction logs, as Windows does at load:
// the old format (a dirty vector of 512-byte pages, before Windows 8.1) and the
// new one (HvLE log entries, since). The recovered bytes are the program's own;
// the volume's files are not touched.

#include <string>
#include <vector>

#include "platform/Expected.h"

namespace korbu::platform::rescue {

/// A log file beside a hive, read whole.
struct HiveLog {
  std::string name;
  std::string bytes;
};

/// What a replay did.
struct HiveReplay {
  bool replayed = false;       // pages of a log were applied
  std::vector<std::string> used;  // the logs whose content was applied
  std::uint32_t sequence = 0;  // both sequence numbers afterwards
};

/// The Marvin32 hash, with the seed the new log format uses.
std::uint64_t Marvin32(std::string_view data, std::uint64_t seed);

/// Applies the logs to a dirty hive (sequence numbers unequal, or a bad
/// checksum of the base block) and leaves its base block clean: both sequence
/// numbers equal and the checksum right. A clean hive is left alone. Fails with
/// the reason when no log applies: the hive stays dirty then.
Expected<HiveReplay> ReplayLogs(std::string& hive, const std::vector<HiveLog>& logs);

}  // namespace korbu::platform::rescue
