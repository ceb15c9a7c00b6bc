#pragma once
// The records of the undo journal as types: the journal writer makes them, the
// undo and the history read them, and their JSON form lives in one place.
//
// Each change record carries the bytes it needs to be reversed: paths, registry
// data and file contents, stored escaped (see EscapeBytes) so that every line is
// plain ASCII whatever the bytes are.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include <nlohmann/json.hpp>

#include "platform/Expected.h"
#include "repair/KeptFilesRecord.h"
#include "scan/RegistryValueLocation.h"

namespace korbu {

/// Bytes as ASCII text: printable ASCII stays, '%' and every other byte becomes
/// %XX (upper-case hex). Reversed by UnescapeBytes; empty for a malformed text.
std::string EscapeBytes(std::string_view bytes);
std::optional<std::string> UnescapeBytes(std::string_view text);

/// The first line of a journal: which action it records, when, and on which rows.
struct ActionHeader {
  std::string id;
  std::string time;    // UTC, "2026-12-09T03:05:01Z"
  std::string action;  // "clean", "delete", "copy" or "move"
  struct Row {
    std::string file;  // the row's File Name: a native path or a registry location
    std::string virus;
  };
  std::vector<Row> rows;
};

/// A registry value's type and data.
struct RegistryData {
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const RegistryData&) const = default;
};

/// A registry value set or removed.
struct RegistryChange {
  // Stored as its location text beside its key and name: records written before
  // the key and name were kept apart hold the text alone.
  RegistryValueLocation value;
  std::optional<RegistryData> before;  // empty: the value did not exist
  std::optional<RegistryData> after;   // empty: the change removes it
  std::string prefix;                  // the Wine prefix it was made in; empty: the running system
  std::string volume;                  // the mounted Windows volume it was made in; empty: none
  std::optional<std::string> created;  // the topmost key the change made, which undo removes once empty
};

/// One key of an INI file set; the whole file before and after is kept.
struct IniChange {
  std::string path;
  std::string section;
  std::string key;
  std::string value;
  std::optional<std::string> before;  // empty: there was no such file
  std::string after;
};

/// A file's whole content replaced, the old content saved as a new file beside it.
struct ReplaceChange {
  std::string path;
  std::string backup;
  std::string before;
  std::string after;
};

/// The permission bits and owner a file had.
struct FileOwnership {
  unsigned mode = 0644;                // POSIX bits, set-user-ID and set-group-ID included
  std::optional<std::uint32_t> owner;  // user and group ids; unknown on Windows
  std::optional<std::uint32_t> group;
};

/// A file deleted after its content went to the action's quarantine.
struct DeleteChange {
  std::string path;
  std::string quarantine;  // the item's name in the quarantine folder
  std::uint64_t size = 0;
  std::string sha256;
  FileOwnership ownership;
  std::string virus;
};

/// A copy of a file made as a new file (the command line's --copy and --move):
/// undo removes it while it still holds that content.
struct CopyChange {
  std::string path;  // the copy
  std::string from;  // the file copied
  std::uint64_t size = 0;
  std::string sha256;
};

/// A file or folder about to be moved to the Trash.
struct TrashChange {
  std::string path;
};

/// Where the item of the TrashChange numbered change went, once it was moved.
struct TrashedNote {
  int change = 0;
  std::string path;
  std::string at;
};

/// The change numbered change was refused at once: nothing of it was made.
struct NotMadeNote {
  int change = 0;
};

/// Attributes cleared: the Windows bits before.
struct AttributesChange {
  std::string path;
  std::uint32_t before = 0;
};

/// An undo of the action ended; complete when everything is as before it.
struct UndoneNote {
  std::string time;
  bool complete = false;
};

using JournalRecord = std::variant<RegistryChange, IniChange, ReplaceChange, DeleteChange, TrashChange, TrashedNote,
                                   AttributesChange, NotMadeNote, UndoneNote, KeptFilesChange, CopyChange>;

/// True for the records that note something about a change rather than make one.
bool IsNote(const JournalRecord& record);

/// One line of the journal after its header.
struct JournalEntry {
  int n = 0;  // the change's number within the action; 0 for notes about an earlier one
  JournalRecord record;
};

/// The entry as the journal stores it: one JSON object with its "op".
nlohmann::json ToJson(const JournalEntry& entry);
/// The entry a journal line holds; an error for a line that is no entry this
/// program writes (damaged, or of an unknown kind).
Expected<JournalEntry> EntryFromJson(const nlohmann::json& line);

nlohmann::json ToJson(const ActionHeader& header);
/// The header a journal's first line holds; an error for a line that is no header.
Expected<ActionHeader> HeaderFromJson(const nlohmann::json& line);

/// What the item of a change looks like for people: a path, a registry location,
/// "path [section] key".
std::string ObjectOf(const JournalRecord& record);

}  // namespace korbu
