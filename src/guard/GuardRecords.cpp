#include "guard/GuardRecords.h"

#include "platform/Path.h"
#include "repair/Journal.h"
#include "repair/JournalSink.h"
#include "scan/DetectionList.h"

namespace korbu::guard {

Expected<std::string> RecordNote(const std::string& action, const std::string& path, const std::string& virus) {
  JournalWriter writer(ActionsFolder(), ActionHeader{{}, {}, action, {{path, virus}}});
  if (!writer.Start()) return Failure(writer.Error());
  writer.KeepWithoutEntries();
  return writer.Id();
}

Expected<std::string> QuarantineFound(const std::string& path, const std::string& virus,
                                      const platform::FileStatus& identity) {
  const std::size_t slash = path.find_last_of('/');
  if (slash == std::string::npos || slash + 1 == path.size()) return Failure("not a file's path: " + path);
  // Folder::Open refuses a path through a link: a folder swapped for one since
  // the file was judged does not lead elsewhere.
  const Expected<platform::Folder> folder = platform::Folder::Open(slash == 0 ? "/" : path.substr(0, slash));
  if (!folder) return folder.error().Context("cannot open the folder of " + path);
  DetectionList rows;
  rows.AddDetection(path, virus);
  rows.SetChecked(0, true);
  JournalSink sink(kQuarantinedAction, rows);
  const Status deleted = sink.DeleteSameFile(*folder, path.substr(slash + 1), identity);
  if (!deleted) return deleted.error();
  return sink.Id();
}

bool GivenBack(const std::string& actionId) {
  const auto store = ActionStore::Open(ActionsFolder(), false);
  if (!store) return false;
  // An undo under way holds the lock until its note is written.
  const auto lock = store->Lock();
  if (!lock) return false;
  const auto action = store->Read(actionId);
  return action && action->UndoneCompletely();
}

}  // namespace korbu::guard
