#pragma once
// Keeping the files an action replaces whole, and putting them back on undo.
// A hive of a mounted Windows that a clean writes anew is kept with its
// transaction logs exactly as they were on the disk; its undo puts back those
// bytes, hive and logs, while the hive is still what the clean wrote.

#include <string>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "platform/WholeFileKeeper.h"
#include "repair/KeptFilesRecord.h"
#include "repair/Undo.h"

namespace korbu {

/// Copies the file about to be replaced and those beside it into new items of
/// the quarantine folder (numbered on from counter), forced to the disk. Fails,
/// keeping nothing, when a file cannot be kept or no longer holds what the
/// backend read of it (then it must not be replaced).
Expected<KeptFilesChange> KeepReplacedFiles(const platform::WholeFileReplacement& replacement,
                                            const platform::Folder& quarantine, int& counter, std::string volume);

/// Puts back the kept bytes of every file (those beside it first, the replaced
/// file last) when the replaced file still holds what the action wrote, and
/// then lets the kept items go. When it holds something else, nothing is
/// touched and the step says so: the other records of the action set its
/// values back one by one, and the kept items stay.
UndoStep UndoKeptFiles(const KeptFilesChange& change, const Expected<platform::Folder>& quarantine);

}  // namespace korbu
