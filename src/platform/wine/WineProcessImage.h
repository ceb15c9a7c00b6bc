#pragma once
// The Wine half of reading a process: which Windows program a process of Wine's
// loader runs, and where its file lies in the prefix.

#include <string>
#include <string_view>

namespace korbu::platform::wine {

/// True when an executable path names the Wine loader (wine, wine64 and their
/// preloaders), the program that every Windows process under Wine runs.
bool IsWineLoader(std::string_view exePath);

/// The file name of the program in a Wine process's first command-line word,
/// which Wine sets to the Windows path it runs ("C:\dir\x.exe") or the native
/// path it was started with.
std::string WineProgramName(std::string_view firstArgument);

/// The native path of a Windows path under a Wine prefix: "X:\a\b" becomes
/// <prefix>/dosdevices/x:/a/b with each part matched ignoring ASCII case (the
/// exact name first), as Wine resolves it. Empty when it names no regular file.
std::string MapWindowsPathInPrefix(std::string_view windowsPath, const std::string& prefix);

/// The image of a process of Wine's loader (its /proc folder open as procDir):
/// the Windows program's own file, as mapped into it or named by its command
/// line; empty when it cannot be told.
std::string WineProgramImage(int procDir);

}  // namespace korbu::platform::wine
