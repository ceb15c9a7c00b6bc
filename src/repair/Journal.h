#pragma once
// The record of every Clean and Delete, from which an action can be undone.
//
// Each action has a folder of its own below the actions folder, named by its id
// ("20261209-030501-01": UTC date, time and a counter within the second):
//   journal.jsonl     one JSON object per line; the first line is the header
//                     (action, time, rows), every other line one entry (see
//                     JournalEntry.h), written before the change it describes
//                     is made (a program killed meanwhile loses no record) and
//                     forced to the disk with the action's quarantine at least
//                     every kForceInterval and at the action's end
//   quarantine/N.kq   the files the action removed, neutered (see Quarantine.h)
// The records decide what an undo writes where, so they are trusted only while
// they are the running user's own: the data folder, the actions folder, each
// action's folder and every file in it must belong to that user and be writable
// by nobody else. One action or undo at a time works on them (a lock).

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/ExclusiveLock.h"
#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "repair/JournalEntry.h"

namespace korbu {

inline constexpr std::string_view kJournalFileName = "journal.jsonl";
inline constexpr std::string_view kQuarantineFolderName = "quarantine";

/// How often a long action forces its records to the disk: what a power cut
/// can take from the records of a running action.
inline constexpr std::chrono::seconds kForceInterval{10};

/// How long an action or an undo waits for another one on the same records.
inline constexpr std::chrono::seconds kRecordsLockWait{5};

/// The folder that holds one folder per recorded action: "actions" in the
/// program's data folder; empty without one.
std::string ActionsFolder();

/// The current time in UTC, "2026-12-09T03:05:01Z".
std::string UtcNow();

/// The path of a file or folder inside a folder.
std::string InFolder(const std::string& folder, std::string_view name);

/// Why a file or folder of the records cannot be trusted (ErrorKind::Untrusted);
/// Ok when it is the running user's own (see platform::IsPrivateToUser).
Status CheckOwnRecord(const platform::FileStatus& status, const std::string& path);

/// One recorded action as read back.
struct ActionRecord {
  std::string id;
  platform::Folder folder;  // the action's folder, held
  ActionHeader header;
  std::vector<JournalEntry> entries;  // after the header, in order written
  /// Lines that hold no whole entry: a last line cut short, or a damaged one.
  struct Unreadable {
    std::string text;
    std::string reason;
  };
  std::vector<Unreadable> unreadable;
  bool endsWithLineBreak = true;  // false when the last line was cut short

  /// True when an undo recorded that everything is as before the action.
  bool UndoneCompletely() const;
};

/// The folder of recorded actions, held open and checked.
class ActionStore {
 public:
  /// Holds the actions folder at that path and the data folder that holds it,
  /// each checked with CheckOwnRecord; with create, makes them first where they
  /// are missing. The error says which folder cannot be used and why.
  static Expected<ActionStore> Open(const std::string& actionsFolder, bool create);

  const platform::Folder& Folder() const { return actions_; }

  /// The ids of the recorded actions, oldest first; folders not named as an id
  /// are no action of this program and are left out. Fails when the folder
  /// cannot be listed whole.
  Expected<std::vector<std::string>> Ids() const;

  /// Reads an action, its folder and journal checked with CheckOwnRecord. An
  /// error for an id that names no action, or records that cannot be trusted.
  Expected<ActionRecord> Read(const std::string& id) const;

  /// Takes the records' lock, waiting kRecordsLockWait for another action or
  /// undo to end; the error tells that one is still running.
  Expected<platform::ExclusiveLock> Lock() const;

 private:
  explicit ActionStore(platform::Folder actions) : actions_(std::move(actions)) {}
  platform::Folder actions_;
};

/// Appends one entry to a recorded action's journal on a line of its own (after
/// a last line cut short too), forced to the disk.
Status AppendToAction(const ActionRecord& action, const JournalEntry& entry);

/// Holds a folder of an action (its quarantine), checked with CheckOwnRecord.
Expected<platform::Folder> OwnSubfolder(const platform::Folder& folder, std::string_view name);

/// Appends the records of one action. Nothing is created until the first entry
/// (or Start): then the records' lock is taken and held until the writer goes,
/// and the action's folder and the header line are written. An action that
/// recorded no entry is removed again when the writer goes.
class JournalWriter {
 public:
  JournalWriter(std::string actionsFolder, ActionHeader header);
  ~JournalWriter();
  JournalWriter(const JournalWriter&) = delete;
  JournalWriter& operator=(const JournalWriter&) = delete;

  /// Writes the entry as one line, handed to the system before this returns;
  /// false when that failed (see Error), and then every later call fails too.
  /// Forces the records to the disk when kForceInterval has passed since the
  /// last time.
  bool Append(const JournalEntry& entry);
  /// Forces the journal and the quarantine to the disk; false as for Append.
  /// Runs when the writer goes too, and is cheap when nothing is new.
  bool Finish();
  /// Creates the action's folder and header now; false as for Append.
  bool Start();
  /// The action's quarantine folder, made at its first use.
  Expected<platform::Folder> Quarantine();
  /// Removes the action's records again: for an action that changed nothing.
  /// What cannot be removed stays and is the error (the first, naming it).
  Status Discard();
  /// Keeps the records of an action that changed nothing when the writer goes:
  /// a note of what was seen (a refused program), for the history.
  void KeepWithoutEntries() { keep_ = true; }

  /// Empty until started.
  const std::string& Id() const { return header_.id; }
  const std::string& Error() const { return error_; }
  /// The entries written so far.
  int Entries() const { return entries_; }

 private:
  bool Fail(std::string why);
  std::string actionsFolder_;
  ActionHeader header_;
  std::string error_;
  int entries_ = 0;
  bool keep_ = false;
  bool unforced_ = false;  // written since the last Finish
  std::chrono::steady_clock::time_point forced_;
  std::optional<ActionStore> store_;
  std::optional<platform::ExclusiveLock> lock_;
  std::optional<platform::Folder> folder_;
  std::optional<platform::NewFile> journal_;
  std::optional<platform::Folder> quarantine_;
};

}  // namespace korbu
