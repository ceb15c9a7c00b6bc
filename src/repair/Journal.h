#pragma once
// The record of every Clean and Delete, from which an action can be undone.
//
// Each action has a folder of its own below the actions folder, named by its id
// ("20261209-030501-01": UTC date, time and a counter within the second):
//   journal.jsonl     one JSON object per line; the first line is the header
//                     (action, time, rows), every other line one change, written
//                     and forced to the disk before the change is made
//   quarantine/N.kq   the files the action removed, neutered (see Quarantine.h)
// Byte strings (paths, registry data, file contents) are stored escaped (see
// EscapeBytes), so every line is plain ASCII whatever the bytes are.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace korbu {

inline constexpr std::string_view kJournalFileName = "journal.jsonl";
inline constexpr std::string_view kQuarantineFolderName = "quarantine";

/// The folder that holds one folder per recorded action: "actions" in the
/// program's data folder; empty without one.
std::string ActionsFolder();

/// Bytes as ASCII text: printable ASCII stays, '%' and every other byte becomes
/// %XX (upper-case hex). Reversed by UnescapeBytes; empty for a malformed text.
std::string EscapeBytes(std::string_view bytes);
std::optional<std::string> UnescapeBytes(std::string_view text);

/// The current time in UTC, "2026-12-09T03:05:01Z".
std::string UtcNow();

/// Appends the records of one action. Nothing is created until the first entry:
/// then the action's folder and the header line are written.
class JournalWriter {
 public:
  JournalWriter(std::string actionsFolder, nlohmann::json header);

  /// Writes the entry as one line and forces it to the disk; false when that
  /// failed (see Error), and then every later call fails too.
  bool Append(const nlohmann::json& entry);
  /// Creates the action's folder and header now; false as for Append.
  bool Start();

  /// Empty until started.
  const std::string& Id() const { return id_; }
  const std::string& Folder() const { return folder_; }
  const std::string& Error() const { return error_; }

 private:
  bool Fail(std::string why);
  std::string actionsFolder_;
  nlohmann::json header_;
  std::string id_;
  std::string folder_;
  std::string error_;
};

/// One recorded action as read back.
struct ActionRecord {
  std::string id;
  std::string folder;
  nlohmann::json header;
  std::vector<nlohmann::json> entries;  // after the header, in order written
};

/// The ids of the recorded actions, oldest first.
std::vector<std::string> ActionIds(const std::string& actionsFolder);

/// Reads an action; empty when it does not exist or has no readable header. A
/// last line cut short by a crash is left out.
std::optional<ActionRecord> ReadAction(const std::string& actionsFolder, const std::string& id);

/// Appends one entry to a recorded action's journal, forced to the disk.
bool AppendToAction(const ActionRecord& action, const nlohmann::json& entry);

/// The path of a file or folder inside an action's folder.
std::string InFolder(const std::string& folder, std::string_view name);

}  // namespace korbu
