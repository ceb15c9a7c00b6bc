#include "repair/VirusClean.h"

#include <exception>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/SystemFactory.h"
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

bool DeleteRegistryDetection(const platform::WindowsSystem& system, const std::string& location, ChangeSink& sink) {
  const auto value = ParseRegistryLocation(location);
  if (!value) return false;  // no registry location, or one that names no value
  return DeleteRegistryDetection(system, *value, sink);
}

bool DeleteRegistryDetection(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                             ChangeSink& sink) {
  return sink.DeleteRegValue(system, value).has_value();
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
// apart (a mounted Windows installation), on that user's system.
template <typename Step>
Status ForEachUser(const platform::WindowsSystem& system, Step step) {
  const std::vector<std::string> users = system.Users();
  if (users.empty()) return Contained([&] { return step(system); });
  const std::string volume = system.Identity().root;
  FirstFailure failure;
  for (const std::string& user : users) {
    const auto userSystem = platform::OpenOrUnreachable(platform::WindowsSystemRef::Volume(volume, user));
    failure.Note(Contained([&] { return step(*userSystem); }));
  }
  return failure.Result();
}

}  // namespace

CleanResult CleanSystem(const platform::WindowsSystem& system, const std::string& path, ChangeSink& sink) {
  CleanResult result;
  FirstFailure failure;
  // The file's own failure is the row's, told by the sink's DeleteFile; only
  // an exception here is the repair's.
  failure.Note(Contained([&] {
    result.deleted = DeleteInfectedFile(path, sink).has_value();
    return Ok();
  }));
  failure.Note(Contained([&] { return RepairSystemSettings(system, sink); }));
  failure.Note(ForEachUser(system, [&](const platform::WindowsSystem& user) { return DeleteWormFiles(user, sink); }));
  failure.Note(Contained([&] { return RepairAutoexec(system, sink); }));
  failure.Note(Contained([&] { return RepairHostsFile(system, sink); }));
  failure.Note(ForEachUser(system, [&](const platform::WindowsSystem& user) { return DeleteMarkedHtmlFiles(user, sink); }));
  failure.Note(Contained([&] { return DeleteWormTasks(system, sink); }));
  failure.Note(ForEachUser(system, [&](const platform::WindowsSystem& user) { return DeleteWormFolders(user, sink); }));
  result.repaired = failure.Result();
  return result;
}

}  // namespace korbu
