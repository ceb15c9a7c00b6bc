#pragma once
// How a startup command line from the registry names its program file.
//
// The text rules work on the Windows form of the command line ('\' and the drive
// colon end a folder part) and are pure functions of their text, so the same rules
// serve every platform. Only LocateInSystemDirs and CommandLineToFilePath look at
// the system, and they give native paths (see platform/WindowsSystem.h): empty
// when there is no Windows system to look in.

#include <string>
#include <string_view>

#include "platform/WindowsSystem.h"

namespace korbu {

/// The text with every occurrence of the character removed.
std::string StripChar(char c, std::string_view text);

/// The text without leading and trailing blanks (0x20 only; tabs stay).
std::string TrimBlanks(std::string_view text);

/// The usable start of a file name: the blank-trimmed name, at most 254
/// characters of it, cut before the first control character or one of
/// : , \ / * ? " < > | and blank. Possibly empty.
std::string CleanFileName(std::string_view name);

/// The text with the substring removed until none is left, occurrences formed by
/// a removal included ("aabb" without "ab" is empty). An empty substring removes
/// nothing. Linear in the lengths, so hostile registry data cannot stall a scan.
std::string RemoveAll(std::string_view sub, std::string_view text);

/// The program name of a command without a drive: the text up to its first '.',
/// followed by what comes after the removal of that head up to the first blank.
/// "rundll32.exe shell32.dll,Control_RunDLL" gives "rundll32.exe".
std::string CutArguments(std::string_view command);

/// True when the text has at least two characters and the second is ':'.
bool HasDriveLetter(std::string_view text);

/// The native path of the first existing file among the Windows-side current
/// directory, the Windows folder and the system folder, each followed by '\' and
/// the name. When none exists, the native path of the name as the system itself
/// would take it (relative to its current directory). Empty without a system.
std::string LocateInSystemDirs(const platform::WindowsSystem& system, std::string_view name);

/// The native path of the program file that a startup command line names: double
/// quotes removed; with a drive letter, the folder part up to the last '\' or ':'
/// followed by CleanFileName of the rest; otherwise LocateInSystemDirs of
/// CutArguments. Environment variables are not expanded. Empty when the path
/// cannot be mapped to the system.
std::string CommandLineToFilePath(const platform::WindowsSystem& system, std::string_view commandLine);

}  // namespace korbu
