#pragma once
// The folder where the engine unpacks what it scans and the program keeps its
// temporary files. Nothing another user may change is used: the folder the user
// names, or else $TMPDIR, or else the system's /tmp, must pass CheckTrustedFolder
// (no link on its path, nobody else's, not writable by others unless sticky).

#include <string>

#include "platform/Expected.h"

namespace korbu::platform {

/// The temporary folder, made absolute: chosen (--tempdir) when not empty, else
/// $TMPDIR when set, else /tmp; refused with the folder and the reason when it
/// fails the checks. On Windows without a choice or TMPDIR: empty, the engine
/// library's default (the user's own temporary folder).
Expected<std::string> TemporaryFolder(const std::string& chosen = {});

}  // namespace korbu::platform
