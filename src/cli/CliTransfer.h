#pragma once
// korbu-scan --move DIR and --copy DIR, as clamscan has them: each detected file
// copied into DIR as a new file (a name taken there gets a suffix, .001 on),
// and for a move then deleted through the quarantine, all of it recorded so
// that --undo gives a moved file back and removes a copy.

#include <functional>
#include <iosfwd>

#include "cli/CliActions.h"
#include "platform/FolderHandle.h"

namespace korbu::cli {

/// Moves (move) or copies every file row of the finished scan into target,
/// changing nothing with dryRun. Writes each row's line and what became of
/// it to out; a file that could not be moved or copied goes to onError. Rows
/// of registry values, running programs and standard input are left, each with
/// a note: they name no file of the PATHs.
ActionOutcome TransferRows(bool move, const platform::Folder& target, bool dryRun, DetectionList& rows,
                           std::ostream& out, const std::function<void(const ScanError&)>& onError);

}  // namespace korbu::cli
