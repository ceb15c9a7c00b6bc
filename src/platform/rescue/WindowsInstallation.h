#pragma once
// A Windows installation on a volume mounted on this system: where its folders,
// its machine hives and its users' hives are. Nothing here writes.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::platform::rescue {

/// One user of the installation, with a profile folder holding NTUSER.DAT.
struct WindowsUser {
  std::string key;          // the user's key below HKEY_USERS: the SID, else the profile folder's name
  std::string profilePath;  // the profile folder as Windows writes it ("C:\Users\alice")
  std::string profile;      // its native path
  std::string hiveName;     // the name of NTUSER.DAT in it, as it is spelt there
};

struct WindowsInstallation {
  std::string root;                         // the volume's root, native
  std::string windowsPath = "C:\\Windows";  // the Windows folder as Windows writes it
  std::string windows;                      // the Windows folder, native
  std::string config;                       // its System32\config folder, native
  std::string softwareHive;                 // names of the machine hives in it, as spelt there
  std::string systemHive;
  int controlSet = 1;  // the control set CurrentControlSet names (SYSTEM's Select\Current)
  std::vector<WindowsUser> users;

  /// The drive letter Windows gives the volume, upper case.
  char Drive() const { return windowsPath.empty() ? 'C' : windowsPath[0]; }
};

/// Finds the installation whose volume is mounted at root: its Windows folder
/// (as the SOFTWARE hive's SystemRoot names it, else "Windows"), the machine
/// hives, the control set in use, and every user that the hive's ProfileList names or that has a profile
/// folder with an NTUSER.DAT under Users (or Documents and Settings). Service
/// accounts and the template profiles (Default, Public) are not users. Fails
/// saying what is missing.
Expected<WindowsInstallation> FindWindowsInstallation(const std::string& root);

/// A path that begins with %SystemDrive%, %SystemRoot%, %windir% or (given a
/// user) %USERPROFILE% with that variable replaced, as profile and shell-folder
/// paths are stored; any other text as it is.
std::string ExpandInstallationPath(std::string_view text, const WindowsInstallation& installation,
                                   const WindowsUser* user = nullptr);

/// The text of registry string data (UTF-16LE) up to its first zero unit, as WTF-8.
std::string HiveText(std::string_view data);

/// The native path of a Windows path on the installation's drive, each existing
/// component matched ignoring ASCII case and the rest kept as written; "." and
/// ".." resolved without leaving the drive. Empty for another drive, a relative
/// path or one holding a zero byte.
std::string InstallationPath(const WindowsInstallation& installation, std::string_view windowsPath);

/// The installation's folder at a Windows path held open, every component matched
/// as InstallationPath matches it and none a link; empty when one is missing.
std::optional<Folder> OpenInstallationFolder(const WindowsInstallation& installation, std::string_view windowsPath);

}  // namespace korbu::platform::rescue
