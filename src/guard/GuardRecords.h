#pragma once
// What the guard leaves in the recorded actions that korbu-scan --history lists:
// a note of each refusal and detection, and the quarantine of a detected file
// through the journal, so that korbu-scan --undo gives it back.

#include <string>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"

namespace korbu::guard {

/// The history's action names of the guard's records.
inline constexpr const char* kRefusedAction = "guard: refused";
inline constexpr const char* kFoundAction = "guard: found";
inline constexpr const char* kQuarantinedAction = "guard: quarantined";

/// Records a note (kRefusedAction, kFoundAction) of one file; returns its id.
Expected<std::string> RecordNote(const std::string& action, const std::string& path, const std::string& virus);

/// Moves the file at path to the quarantine as korbu-scan --delete does, only
/// when it is still the file judged (identity); returns the action's id.
Expected<std::string> QuarantineFound(const std::string& path, const std::string& virus,
                                      const platform::FileStatus& identity);

/// True when the action was undone completely: the user asked for its files back.
bool GivenBack(const std::string& actionId);

}  // namespace korbu::guard
