#include "repair/VirusClean.h"

#include <exception>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/WindowsSystemChoice.h"
#include "repair/FirstFailure.h"
#include "scan/RegistryLocations.h"
#include "services/TextUtils.h"

namespace korbu {

bool IsBrontokVerdict(std::string_view virusName) {
  return MatchesMask(platform::AsciiLowered(virusName), BrontokMask);
}

Status DeleteInfectedFile(const std::string& path, ChangeSink& sink) {
  // The file's folder is held from here on: every change reaches the file in it.
  const auto parent = platform::OpenParent(path);
  if (!parent) return parent.error();
  const auto& [folder, name] = *parent;
  const auto entry = folder.Entry(name);
  if (!entry || entry->kind != platform::EntryKind::Regular) return Failure(path + " is no regular file");
  const Status ended = sink.EndProcesses(path);
  const Status cleared = sink.ClearAttributes(folder, name);
  const Status deleted = sink.DeleteFile(folder, name);
  if (deleted) return deleted;
  // A program left running, or a flag left set, may be why the file stays.
  const Status& cause = !ended ? ended : cleared;
  if (cause) return deleted;
  return Failure(deleted.error().reason + " (" + cause.error().reason + ")", deleted.error().code);
}

bool DeleteRegistryDetection(const std::string& location, ChangeSink& sink) {
  const auto value = ParseRegistryLocation(location);
  if (!value) return false;  // no registry location, or one that names no value
  return DeleteRegistryDetection(*value, sink);
}

bool DeleteRegistryDetection(const RegistryValueLocation& value, ChangeSink& sink) {
  return sink.DeleteRegValue(value).has_value();
}

namespace {

// One step's failure (out of memory, an exception from below) is its own: the
// steps after it still run.
template <typename Step>
Status Contained(Step step) {
  try {
    return step();
  } catch (const std::exception& e) {
    return Failure(std::string("could not finish a step: ") + e.what());
  }
}

// A step on a user's own folders: for each user where the system keeps them
// apart (a mounted Windows installation), with that user chosen.
template <typename Step>
Status ForEachUser(Step step) {
  const std::vector<std::string> users = platform::SystemUsers();
  if (users.empty()) return Contained(step);
  const std::string volume = platform::CurrentWindowsSystem().root;
  FirstFailure failure;
  for (const std::string& user : users) {
    platform::ScopedWindowsSystem chosen(platform::WindowsSystemRef::Volume(volume, user));
    failure.Note(Contained(step));
  }
  return failure.Result();
}

}  // namespace

CleanResult CleanSystem(const std::string& path, ChangeSink& sink) {
  CleanResult result;
  FirstFailure failure;
  // The file's own failure is the row's, told by the sink's DeleteFile; only
  // an exception here is the repair's.
  failure.Note(Contained([&] {
    result.deleted = DeleteInfectedFile(path, sink).has_value();
    return Ok();
  }));
  failure.Note(Contained([&] { return RepairSystemSettings(sink); }));
  failure.Note(ForEachUser([&] { return DeleteWormFiles(sink); }));
  failure.Note(Contained([&] { return RepairAutoexec(sink); }));
  failure.Note(Contained([&] { return RepairHostsFile(sink); }));
  failure.Note(ForEachUser([&] { return DeleteMarkedHtmlFiles(sink); }));
  failure.Note(Contained([&] { return DeleteWormTasks(sink); }));
  failure.Note(ForEachUser([&] { return DeleteWormFolders(sink); }));
  result.repaired = failure.Result();
  return result;
}

}  // namespace korbu
