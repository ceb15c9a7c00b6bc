#pragma once
// Finding and opening the platform's libclamav, and looking up its functions.

#include <string>

namespace korbu::bridge {

/// Opens libclamav (Linux: by its soname; Windows: ClamAV's libclamav.dll by full
/// path from a "clamav" folder beside the program, the installation folder that
/// ClamAV's installer records, or %ProgramFiles%\ClamAV). Null when none opens;
/// problem then says where it was looked for and the loader's error.
void* OpenLibclamav(std::string& problem);

/// The address of one of its functions; null when it has none of that name.
void* LibclamavFunction(void* library, const char* name);

/// Releases a libclamav that is not going to be used.
void CloseLibclamav(void* library);

/// The folder libclamav was opened from; empty when it came from the library search.
const std::string& LibclamavFolder();

}  // namespace korbu::bridge
