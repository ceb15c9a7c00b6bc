#pragma once
// The repair of one detection: deleting the detected file or registry value, and
// undoing what the Brontok worm family does to the Windows system (on POSIX: the
// system of the Wine prefix; without one, every system step does nothing).
//
// Every function takes the sink its changes go through: ApplyChanges() makes
// them, a PreviewSink only records them. Nothing here throws for a failed change;
// results say what was achieved (for a preview: what would be tried).

#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/WindowsSystem.h"
#include "repair/RepairChanges.h"

namespace korbu {

/// The wildcard pattern a lower-cased verdict name is matched against.
inline constexpr std::string_view BrontokMask = "*brontok*";

/// True when the verdict name contains "brontok" in any letter case.
bool IsBrontokVerdict(std::string_view virusName);

/// Ends the programs running the file, clears its attributes and deletes it.
/// An error when no regular file is at the path or it could not be deleted.
Status DeleteInfectedFile(const std::string& path, ChangeSink& sink = ApplyChanges());

/// Deletes the registry value that a registry location names (the key stays).
/// False for a text that is no registry location or names no value.
bool DeleteRegistryDetection(const platform::WindowsSystem& system, const std::string& location,
                             ChangeSink& sink = ApplyChanges());

/// Deletes exactly that registry value (the key stays); false when it names no value.
bool DeleteRegistryDetection(const platform::WindowsSystem& system, const RegistryValueLocation& value,
                             ChangeSink& sink = ApplyChanges());

/// What CleanSystem achieved: whether the detected file went, and the first
/// failure among the system steps (each worded "could not ...").
struct CleanResult {
  bool deleted = false;
  Status repaired;
};

/// DeleteInfectedFile, then the seven system steps in order, each exactly once
/// whatever the earlier ones achieved or threw (an exception is that step's failure).
/// Every file step acts through folders it holds open (see platform::Folder): a
/// folder swapped for a link while it runs is refused, never followed. Where
/// the system keeps its users apart (a mounted Windows installation), the steps
/// on a user's folders run for each user, on that user's system.
CleanResult CleanSystem(const platform::WindowsSystem& system, const std::string& path,
                        ChangeSink& sink = ApplyChanges());

// Each system step below tries all of its changes and gives the first failure:
// a change refused, or a folder or file it had to read that could not be read.
// What is absent, or kept on purpose (read-only pages and tasks, files in use),
// is no failure.

/// The worm's "system.ini" shell, safe-mode shell, Explorer settings, open
/// commands and policies set back: sixteen writes, each tried whatever the others do.
/// Where the system keeps its users apart, a user's setting is written for each
/// of them below HKEY_USERS.
Status RepairSystemSettings(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

/// The registry keys RepairSystemSettings writes to, so that they (and the keys
/// above them) can be read ahead in one go.
std::vector<std::pair<platform::RootKey, std::string>> RepairedRegistryKeys(const platform::WindowsSystem& system);

/// Moves every file named "*Bron*.*" under the local application-data folder, at
/// any depth, to the recycle bin; read-only flags are cleared first and files in
/// use stay. Links are moved as links and never entered.
Status DeleteWormFiles(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

/// Deletes "Autoexec.bat" at the root of the Windows drive when its whole text is
/// "pause" in any letter case; one of more than 4 KiB is not even read.
Status RepairAutoexec(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

/// Resets the hosts file to "127.0.0.1<TAB>localhost", keeping the old content
/// in hosts.bak (or hosts.bak.N when that exists). Only a regular file of at most
/// kMaxReplacedFileBytes is touched, and one that already holds exactly that line
/// is left alone.
Status RepairHostsFile(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

/// Deletes the ".html" pages directly in the pictures folder that hold the
/// worm's marker text; read-only pages stay.
Status DeleteMarkedHtmlFiles(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

/// Deletes the worm's scheduled-task files from the Tasks folder of Windows.
Status DeleteWormTasks(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

/// Moves the visible entries named "*bron*" directly in the local
/// application-data folder to the recycle bin.
Status DeleteWormFolders(const platform::WindowsSystem& system, ChangeSink& sink = ApplyChanges());

}  // namespace korbu
