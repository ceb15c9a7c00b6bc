#pragma once
// Explorer's "Scan with KORBU" for files and folders, registered for the running
// user only (below HKEY_CURRENT_USER's classes, no administrator needed) when the
// program is asked to, and removed again the same way.

#include <string>

#include "platform/Expected.h"

namespace korbu::win32app {

inline constexpr const char* kShellMenuText = "Scan with KORBU";
inline constexpr const char* kRegisterShellSwitch = "--register-shell";
inline constexpr const char* kUnregisterShellSwitch = "--unregister-shell";
/// The user's classes, which Explorer reads over the machine's.
inline constexpr const wchar_t* kUserClasses = L"Software\\Classes";

/// Adds the entry for every file (*) and every folder (Directory) that starts
/// program with the item's path; an entry there before is replaced. classes is a
/// key below HKEY_CURRENT_USER.
Status RegisterShellMenu(const std::wstring& program, const std::wstring& classes = kUserClasses);
/// Removes both entries; Ok when they were not there.
Status UnregisterShellMenu(const std::wstring& classes = kUserClasses);

/// The command line of an entry: the program and the item, each quoted.
std::wstring ShellCommand(const std::wstring& program);

}  // namespace korbu::win32app
