#pragma once
// Path conventions of the platform. Code above this folder builds file paths with
// these helpers only; registry paths always use a backslash and are not file paths.

#include <string>
#include <string_view>

namespace korbu::platform {

#ifdef _WIN32
inline constexpr char kPathDelim = '\\';
#else
inline constexpr char kPathDelim = '/';
#endif

/// True for the characters that end a folder part of a file path on this platform
/// (the separator, and on Windows also '/' and the drive colon).
bool IsPathDelimiter(char c);

/// The path with one separator at its end (unchanged when it already ends in one;
/// an empty path stays empty).
std::string IncludeTrailingDelimiter(std::string path);

/// Folder part of a path up to and including its last delimiter; empty when none.
std::string ExtractFilePath(std::string_view path);

/// Name part after the last delimiter (the whole text when there is none).
std::string ExtractFileName(std::string_view path);

/// The absolute form of a path, made against the current directory and normalised
/// lexically ("." and ".." resolved, repeated separators folded). Links are not
/// resolved. Empty for an empty path, and for a relative one when there is no
/// current directory to resolve it against (it has been removed).
std::string FullPath(std::string_view path);

/// The current directory with no trailing separator (unless it is the root);
/// empty when it cannot be told (it has been removed).
std::string CurrentDirectory();

/// Full path of the running executable; empty when it cannot be told.
std::string ExecutablePath();

}  // namespace korbu::platform

namespace korbu::platform {

/// True when two file paths name the same file by the platform's rule for names:
/// letter case ignored on Windows, exact on POSIX.
bool SameFileName(std::string_view a, std::string_view b);

}  // namespace korbu::platform
