#include "repair/Journal.h"

#include <algorithm>
#include <chrono>

#include "platform/DurableFile.h"
#include "platform/Path.h"
#include "platform/SystemError.h"
#include "repair/FirstFailure.h"

namespace korbu {
namespace {

constexpr int kMaxIdsPerSecond = 99;
constexpr std::string_view kLockName = ".lock";
// A journal holds the whole content of the files its action replaced (a few
// MiB at most); anything larger is not one of ours.
constexpr std::uint64_t kMaxJournalBytes = 1ULL << 30;

std::string TwoDigits(unsigned value) {
  return std::string{static_cast<char>('0' + value / 10 % 10), static_cast<char>('0' + value % 10)};
}

struct UtcParts {
  std::string date;  // YYYYMMDD
  std::string time;  // HHMMSS
  std::string iso;
};

UtcParts UtcNowParts() {
  using namespace std::chrono;
  const auto now = floor<seconds>(system_clock::now());
  const auto day = floor<days>(now);
  const year_month_day ymd(day);
  const hh_mm_ss hms(now - day);
  const std::string year = std::to_string(static_cast<int>(ymd.year()));
  const std::string month = TwoDigits(static_cast<unsigned>(ymd.month()));
  const std::string dayText = TwoDigits(static_cast<unsigned>(ymd.day()));
  const std::string h = TwoDigits(static_cast<unsigned>(hms.hours().count()));
  const std::string m = TwoDigits(static_cast<unsigned>(hms.minutes().count()));
  const std::string s = TwoDigits(static_cast<unsigned>(hms.seconds().count()));
  return {year + month + dayText, h + m + s, year + "-" + month + "-" + dayText + "T" + h + ":" + m + ":" + s + "Z"};
}

// "20261209-030501-01": only folders named so are actions of this program.
bool IsActionId(std::string_view name) {
  if (name.size() != 18 || name[8] != '-' || name[15] != '-') return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    if (i != 8 && i != 15 && (name[i] < '0' || name[i] > '9')) return false;
  }
  return true;
}

std::string OctalMode(unsigned mode) {
  std::string digits;
  for (int shift = 9; shift >= 0; shift -= 3) digits += static_cast<char>('0' + ((mode >> shift) & 7u));
  return digits;
}

Error RecordsUnusable(const std::string& where, const Error& why) {
  return why.Context("the undo records in " + where + " cannot be used");
}

}  // namespace

std::string ActionsFolder() {
  const std::string data = platform::ProgramDataFolder();
  return data.empty() ? std::string() : InFolder(data, "actions");
}

std::string InFolder(const std::string& folder, std::string_view name) {
  return platform::IncludeTrailingDelimiter(folder) + std::string(name);
}

std::string UtcNow() { return UtcNowParts().iso; }

Status CheckOwnRecord(const platform::FileStatus& status, const std::string& path) {
  if (platform::IsPrivateToUser(status)) return Ok();
  std::string owner = status.owner ? "user " + std::to_string(*status.owner) : std::string("another user");
  return Failure(path + " is not the user's own (owner " + owner + ", mode " + OctalMode(status.mode) +
                     "): the records must belong to the user running korbu and be writable by nobody else",
                 ErrorKind::Untrusted);
}

bool ActionRecord::UndoneCompletely() const {
  return std::any_of(entries.begin(), entries.end(), [](const JournalEntry& entry) {
    const auto* undone = std::get_if<UndoneNote>(&entry.record);
    return undone != nullptr && undone->complete;
  });
}

Expected<ActionStore> ActionStore::Open(const std::string& actionsFolder, bool create) {
  if (actionsFolder.empty()) return Failure("there is no data folder for the undo records");
  std::string data = platform::ExtractFilePath(actionsFolder);
  while (data.size() > 1 && platform::IsPathDelimiter(data.back()) && data.back() != ':') data.pop_back();
  const std::string name = platform::ExtractFileName(actionsFolder);
  if (create) {
    if (Status made = platform::MakePrivateFolders(actionsFolder); !made) {
      return RecordsUnusable(actionsFolder, made.error().Context("it cannot be created"));
    }
  }
  auto dataFolder = platform::Folder::Open(data);
  if (!dataFolder) return RecordsUnusable(actionsFolder, dataFolder.error());
  const auto dataStatus = dataFolder->OwnStatus();
  if (!dataStatus) return RecordsUnusable(actionsFolder, dataStatus.error());
  if (const Status own = CheckOwnRecord(*dataStatus, data); !own) return RecordsUnusable(actionsFolder, own.error());
  auto actions = dataFolder->Child(name);
  if (!actions) {
    const auto status = dataFolder->StatusOf(name);
    if (!status) return RecordsUnusable(actionsFolder, status.error());
    return RecordsUnusable(actionsFolder, Failure(actionsFolder + " is not a real folder"));
  }
  const auto status = actions->OwnStatus();
  if (!status) return RecordsUnusable(actionsFolder, status.error());
  if (const Status own = CheckOwnRecord(*status, actionsFolder); !own) return RecordsUnusable(actionsFolder, own.error());
  return ActionStore(std::move(*actions));
}

Expected<std::vector<std::string>> ActionStore::Ids() const {
  std::vector<std::string> ids;
  const Status listed = actions_.List("*", [&](const platform::EntryInfo& entry) {
    if (entry.kind == platform::EntryKind::Directory && IsActionId(entry.name)) ids.push_back(entry.name);
    return true;
  });
  if (!listed) return listed.error();
  // Fixed-width ids sort by time.
  std::sort(ids.begin(), ids.end());
  return ids;
}

Expected<platform::ExclusiveLock> ActionStore::Lock() const {
  auto lock = platform::ExclusiveLock::Take(actions_, std::string(kLockName), kRecordsLockWait);
  if (lock) return lock;
  if (lock.error().kind == ErrorKind::Busy) {
    return Failure("another korbu action or undo is working on the records in " + actions_.Path() +
                       "; try again once it has ended",
                   ErrorKind::Busy);
  }
  return RecordsUnusable(actions_.Path(), lock.error());
}

Expected<platform::Folder> OwnSubfolder(const platform::Folder& folder, std::string_view name) {
  const std::string path = folder.PathOf(std::string(name));
  auto child = folder.Child(std::string(name));
  if (!child) {
    const auto status = folder.StatusOf(std::string(name));
    if (!status) return status.error();
    return Failure(path + " is not a real folder", ErrorKind::Untrusted);
  }
  const auto status = child->OwnStatus();
  if (!status) return status.error();
  if (const Status own = CheckOwnRecord(*status, path); !own) return own.error();
  return std::move(*child);
}

Expected<ActionRecord> ActionStore::Read(const std::string& id) const {
  if (!IsActionId(id) || !actions_.Entry(id)) return Failure("no recorded action has the id " + id);
  auto folder = OwnSubfolder(actions_, id);
  if (!folder) return RecordsUnusable(actions_.Path(), folder.error());
  auto journal = folder->OpenRegular(std::string(kJournalFileName));
  if (!journal) return RecordsUnusable(actions_.Path(), journal.error());
  const std::string journalPath = folder->PathOf(std::string(kJournalFileName));
  if (const Status own = CheckOwnRecord(journal->status, journalPath); !own) {
    return RecordsUnusable(actions_.Path(), own.error());
  }
  const auto text = platform::ReadToEnd(journal->file, kMaxJournalBytes);
  if (!text) return RecordsUnusable(actions_.Path(), text.error().Context(journalPath));

  ActionRecord action{id, std::move(*folder), {}, {}, {}, true};
  bool headerRead = false;
  std::size_t start = 0;
  while (start < text->size()) {
    std::size_t end = text->find('\n', start);
    const bool whole = end != std::string::npos;
    if (!whole) end = text->size();
    const std::string_view line(text->data() + start, end - start);
    start = end + 1;
    if (!whole) {
      action.endsWithLineBreak = false;
      action.unreadable.push_back({std::string(line), "its record was cut short"});
      break;
    }
    const auto parsed = nlohmann::json::parse(line.begin(), line.end(), nullptr, false);
    if (!headerRead) {
      auto header = HeaderFromJson(parsed);
      if (!header) return RecordsUnusable(actions_.Path(), header.error().Context(journalPath));
      action.header = std::move(*header);
      action.header.id = id;
      headerRead = true;
      continue;
    }
    auto entry = EntryFromJson(parsed);
    if (entry) {
      action.entries.push_back(std::move(*entry));
    } else {
      action.unreadable.push_back({std::string(line), parsed.is_discarded() ? "its record is damaged" : entry.error().reason});
    }
  }
  if (!headerRead) return RecordsUnusable(actions_.Path(), Failure(journalPath + " has no header"));
  return action;
}

Status AppendToAction(const ActionRecord& action, const JournalEntry& entry) {
  auto file = action.folder.OpenForAppend(std::string(kJournalFileName));
  if (!file) return file.error();
  // A line cut short stays as it is; the new record starts a line of its own.
  const std::string line = std::string(action.endsWithLineBreak ? "" : "\n") + ToJson(entry).dump() + "\n";
  if (!file->Write(line) || !file->Sync()) return platform::LastSystemError().Context(action.folder.Path());
  return Ok();
}

JournalWriter::JournalWriter(std::string actionsFolder, ActionHeader header)
    : actionsFolder_(std::move(actionsFolder)), header_(std::move(header)) {
  header_.id.clear();
}

// The owner's explicit Finish or Discard reports; what is left here has no one
// to tell.
JournalWriter::~JournalWriter() {
  if (entries_ == 0 && !keep_) {
    [[maybe_unused]] const Status discarded = Discard();
  } else {
    Finish();
  }
}

bool JournalWriter::Finish() {
  if (!unforced_ || !journal_) return error_.empty();
  unforced_ = false;
  forced_ = std::chrono::steady_clock::now();
  Status forced = journal_->Content().Sync() ? Ok() : Status(platform::LastSystemError());
  if (forced && quarantine_) forced = quarantine_->SyncWithFiles();
  if (forced) forced = folder_->Sync();
  if (!forced) return Fail("cannot write the undo journal in " + folder_->Path() + ": " + forced.error().reason);
  return true;
}

bool JournalWriter::Fail(std::string why) {
  error_ = std::move(why);
  return false;
}

// A copy in the quarantine of an action that changed nothing belongs to a file
// that was never deleted.
// What cannot be listed or deleted stays, in the user's own private folder.
Status JournalWriter::Discard() {
  if (!folder_) return Ok();
  FirstFailure failed;
  if (quarantine_) {
    const Status listed = quarantine_->List("*", [&](const platform::EntryInfo& entry) {
      if (entry.kind == platform::EntryKind::Regular) {
        failed.Note(quarantine_->DeleteFile(entry.name), quarantine_->PathOf(entry.name));
      }
      return true;
    });
    failed.Note(listed, quarantine_->Path());
    failed.Note(folder_->RemoveEmptyFolder(std::string(kQuarantineFolderName)), quarantine_->Path());
  }
  journal_.reset();
  failed.Note(folder_->DeleteFile(std::string(kJournalFileName)), folder_->PathOf(std::string(kJournalFileName)));
  failed.Note(store_->Folder().RemoveEmptyFolder(header_.id), folder_->Path());
  const std::string path = folder_->Path();
  quarantine_.reset();
  folder_.reset();
  const Status done = failed.Result();
  if (!done) return done.error().Context("the records of an action that changed nothing stay in " + path);
  return Ok();
}

bool JournalWriter::Start() {
  if (!error_.empty()) return false;
  if (journal_) return true;
  auto store = ActionStore::Open(actionsFolder_, true);
  if (!store) return Fail(store.error().reason);
  auto lock = store->Lock();
  if (!lock) return Fail(lock.error().reason);
  const UtcParts now = UtcNowParts();
  header_.time = now.iso;
  for (int n = 1; n <= kMaxIdsPerSecond; ++n) {
    const std::string id = now.date + "-" + now.time + "-" + TwoDigits(static_cast<unsigned>(n));
    // Made exclusively: of two programs that chose the same id, the second moves on.
    auto folder = store->Folder().MakeChild(id);
    if (!folder) {
      if (store->Folder().Entry(id)) continue;
      return Fail("cannot create the undo journal: " + folder.error().reason);
    }
    header_.id = id;
    auto journal = folder->BeginFile(std::string(kJournalFileName));
    Status written = journal ? Ok() : Status(journal.error());
    if (written && !journal->Content().Write(ToJson(header_).dump() + "\n")) written = platform::LastSystemError();
    if (written) written = journal->Commit();
    if (written) written = store->Folder().Sync();
    if (!written) {
      std::string why = "cannot write the undo journal in " + folder->Path() + ": " + written.error().reason;
      if (Status gone = store->Folder().RemoveEmptyFolder(id); !gone) why += "; it stays: " + gone.error().reason;
      header_.id.clear();
      return Fail(std::move(why));
    }
    store_.emplace(std::move(*store));
    lock_.emplace(std::move(*lock));
    folder_.emplace(std::move(*folder));
    journal_.emplace(std::move(*journal));
    return true;
  }
  return Fail("cannot create an undo journal in " + actionsFolder_ + ": too many actions this second");
}

bool JournalWriter::Append(const JournalEntry& entry) {
  if (!Start()) return false;
  platform::DurableFile& file = journal_->Content();
  // One write per line: a program killed part way leaves whole lines.
  if (!file.Write(ToJson(entry).dump() + "\n")) {
    return Fail("cannot write the undo journal in " + folder_->Path() + ": " + platform::LastSystemError().reason);
  }
  ++entries_;
  if (!unforced_) {
    unforced_ = true;
    if (forced_ == std::chrono::steady_clock::time_point()) forced_ = std::chrono::steady_clock::now();
  }
  if (std::chrono::steady_clock::now() - forced_ >= kForceInterval) return Finish();
  return true;
}

Expected<platform::Folder> JournalWriter::Quarantine() {
  if (quarantine_) return *quarantine_;
  if (!Start()) return Failure(error_);
  auto made = folder_->MakeChild(std::string(kQuarantineFolderName));
  if (!made) return made.error();
  quarantine_.emplace(std::move(*made));
  return *quarantine_;
}

}  // namespace korbu
