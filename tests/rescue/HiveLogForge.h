#pragma once
// Transaction-log entries of the new format (HvLE) as Windows appends them, made
// in tests: a change that lives only in a hive's logs, laid on a real hive.

#include <cstdint>
#include <string>

namespace korbu::test {

/// The log with one more entry at the end of its chain of valid entries: the
/// 4 KiB pages in which `changed` differs from `recovered` (both whole hives
/// as the logs recover them), numbered `sequence`.
std::string WithLogEntry(const std::string& log, std::uint32_t sequence, const std::string& recovered,
                         const std::string& changed);

/// One entry: its number, the size of the hive bins it leaves, the 8-byte
/// references (offset into the bins, size) of its pages, and the pages.
std::string LogEntry(std::uint32_t sequence, std::uint32_t binsSize, const std::string& refs, const std::string& pages);

/// Rewrites the data of every value of that name whose data is exactly `from`
/// (its cell found through its record) to `to`, of the same length; the count.
int RewriteValueData(std::string& hive, const std::string& valueName, const std::string& from, const std::string& to);

}  // namespace korbu::test
