#pragma once
// The Windows system the scanner looks after: its folders and its current
// directory as a Windows program sees them, and the native path behind any
// Windows path. On Windows both sides are the same; on POSIX the system is a
// Wine prefix and every function here is empty when there is none (nothing is
// ever taken from the Linux side instead).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/FolderHandle.h"

namespace korbu::platform {

/// Shell folder identifiers (CSIDL values) the program asks for.
inline constexpr int kCsidlLocalAppData = 28;
inline constexpr int kCsidlMyPictures = 39;

/// The Windows folder as a Windows path ("C:\windows"); empty without a system.
std::string WindowsDirectoryPath();

/// The system folder as a Windows path ("C:\windows\system32"); empty without one.
std::string SystemDirectoryPath();

/// The current directory a Windows program of this system starts in, as a Windows
/// path with no trailing backslash; empty without a system.
std::string WindowsCurrentDirectoryPath();

/// The native path of a Windows path: absolute ("C:\dir\x.exe"), rooted on the
/// current drive ("\dir") or relative to WindowsCurrentDirectoryPath(). Both '\'
/// and '/' separate components, "." and ".." are resolved without leaving the
/// drive, and each existing component is matched as the system does (the exact
/// name first, else the first entry equal to it ignoring ASCII case); components
/// from the first missing one on are kept as given, so a missing file still has a
/// native path. A final component that is a symbolic link is not resolved. Empty
/// when the path cannot be mapped: no system, an unknown drive, a network path,
/// or a zero byte in the path.
std::string NativePath(std::string_view windowsPath);

/// The native path of a Windows folder, fully resolved; empty unless it maps to
/// an existing directory.
std::string NativeFolder(std::string_view windowsPath);

/// The native path of a shell special folder of the current user (see the kCsidl
/// constants); empty when the folder is unknown or does not exist.
std::string SpecialFolderPath(int csidl);

/// The Windows path of a shell special folder of the current user; empty when it
/// is unknown.
std::string SpecialFolderWindowsPath(int csidl);

/// A Windows folder held open for changes inside it: the drive's root as
/// NativeFolder finds it, then each component matched as NativePath matches it and
/// opened without following a link, so a folder on the way that is (or becomes)
/// a link is refused rather than followed. Empty when a component is missing or
/// a link, and without a system.
std::optional<Folder> OpenSystemFolder(std::string_view windowsPath);

/// A shell special folder of the current user held open as OpenSystemFolder
/// holds a folder. On POSIX the special folder itself may be the link Wine makes
/// to the user's own folder ("Pictures" to ~/Pictures): it is then held at its
/// target when that lies inside the home folder; a link anywhere else is refused.
std::optional<Folder> OpenSpecialFolder(int csidl);

/// The name under which an entry of a held folder of the system exists, matched
/// as NativePath matches it; the name as given when there is none.
std::string SystemEntryName(const Folder& folder, const std::string& name);

/// The registry keys (root key, key path) the special folders are read from, so
/// that a task reaching a costly registry can read them ahead with its own; none
/// where the shell tells them (Windows).
std::vector<std::pair<std::uint32_t, std::string>> SpecialFolderRegistryKeys();

}  // namespace korbu::platform
