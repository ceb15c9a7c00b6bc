#pragma once
// The location a window starts with or is handed: a folder named on the command
// line (a file manager's "Scan with KORBU") or dropped on the window. The folder
// tree lists folders only, so a file stands for the folder that holds it there,
// and is the one file the next scan of that folder judges.

#include <string>
#include <vector>

namespace korbu {

/// The folder to select for a path (UTF-8): the path itself, made absolute, when it
/// is a folder; the folder holding it when it is anything else that exists; empty
/// when nothing is there.
std::string FolderToSelect(const std::string& path);

/// The folder for the first argument that is no option ("--" ends the options), as
/// FolderToSelect gives it; empty when there is none. arguments excludes the
/// program's own name.
std::string StartLocation(const std::vector<std::string>& arguments);

/// The file a path names, made absolute, when it is a regular file: a file named or
/// dropped is scanned alone. Empty for a folder, anything else, or nothing.
std::string FileToScan(const std::string& path);
/// FileToScan of the argument StartLocation takes.
std::string StartFile(const std::vector<std::string>& arguments);

/// True when two folder paths name the same folder as written: trailing
/// separators aside, and on Windows in any letter case and either separator.
bool SameFolder(const std::string& one, const std::string& other);

}  // namespace korbu
