#include "repair/VirusClean.h"

#include <exception>

#include "platform/AsciiCase.h"
#include "platform/FileSystem.h"
#include "platform/FolderHandle.h"
#include "platform/WindowsSystemChoice.h"
#include "scan/RegistryLocations.h"
#include "services/TextUtils.h"

namespace korbu {

bool IsBrontokVerdict(std::string_view virusName) {
  return MatchesMask(platform::AsciiLowered(virusName), BrontokMask);
}

bool DeleteInfectedFile(const std::string& path, ChangeSink& sink) {
  // The file's folder is held from here on: every change reaches the file in it.
  const auto parent = platform::OpenParent(path);
  if (!parent) return false;
  const auto& [folder, name] = *parent;
  const auto entry = folder.Entry(name);
  if (!entry || entry->kind != platform::EntryKind::Regular) return false;
  // A program left running shows in the deletion's own result.
  (void)sink.EndProcesses(path);
  (void)sink.ClearAttributes(folder, name);
  return sink.DeleteFile(folder, name).has_value();
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
void Contained(Step step) {
  try {
    step();
  } catch (const std::exception&) {
  }
}

// A step on a user's own folders: for each user where the system keeps them
// apart (a mounted Windows installation), with that user chosen.
template <typename Step>
void ForEachUser(Step step) {
  const std::vector<std::string> users = platform::SystemUsers();
  if (users.empty()) {
    Contained(step);
    return;
  }
  const std::string volume = platform::CurrentWindowsSystem().root;
  for (const std::string& user : users) {
    platform::ScopedWindowsSystem chosen(platform::WindowsSystemRef::Volume(volume, user));
    Contained(step);
  }
}

}  // namespace

bool CleanSystem(const std::string& path, ChangeSink& sink) {
  bool deleted = false;
  Contained([&] { deleted = DeleteInfectedFile(path, sink); });
  Contained([&] { RepairSystemSettings(sink); });
  ForEachUser([&] { DeleteWormFiles(sink); });
  Contained([&] { RepairAutoexec(sink); });
  Contained([&] { RepairHostsFile(sink); });
  ForEachUser([&] { DeleteMarkedHtmlFiles(sink); });
  Contained([&] { DeleteWormTasks(sink); });
  ForEachUser([&] { DeleteWormFolders(sink); });
  return deleted;
}

}  // namespace korbu
