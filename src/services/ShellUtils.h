#pragma once
// The shell's services to the repair: the recycle bin, the special folders, the
// Windows and system folders, and INI file entries. Every path given back is a
// native path, and empty when the system has no such folder (on POSIX: when there
// is no Wine prefix); nothing falls back to another folder.

#include <string>
#include <string_view>

#include "platform/WindowsSystem.h"

namespace korbu {

/// Moves a file or a whole folder to the recycle bin without asking. True only
/// when it is there; never throws.
bool RecycleFile(const std::string& path);

/// The folder of a shell folder identifier (CSIDL); empty when it cannot be
/// resolved. Known: 28 (local application data) and 39 (My Pictures).
std::string GetSpecialFolderPath(const platform::WindowsSystem& system, int csidl);

/// GetSpecialFolderPath(39).
std::string GetPicturesFolder(const platform::WindowsSystem& system);

/// The Windows folder; empty when there is none.
std::string GetWindowsDir(const platform::WindowsSystem& system);

/// The system folder; empty when there is none.
std::string GetSystemDir(const platform::WindowsSystem& system);

/// Sets key=value in a section of an INI file as WritePrivateProfileString does
/// (see platform/IniFile.h). A file name without a folder is in the Windows
/// folder, matched there without regard to letter case; any other is a native
/// path. False when nothing was written.
bool WriteIniValue(const platform::WindowsSystem& system, std::string_view section, std::string_view key, std::string_view value,
                   const std::string& fileName);

}  // namespace korbu
