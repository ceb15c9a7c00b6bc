#pragma once
// The Clean and Delete actions over the detection list, as plain functions: the
// desktop program binds them to its two buttons (the selection rules are the
// window's, ui/SelectionRules.h); the command line calls the row loops directly.

#include <cstddef>
#include <functional>
#include <memory>
#include <string>

#include "platform/WindowsSystem.h"
#include "repair/RepairChanges.h"
#include "scan/DetectionList.h"

namespace korbu {

/// What an action did with one checked row.
struct RowResult {
  std::size_t index = 0;
  bool handled = false;  // marked cleaned or deleted
  std::string reason;    // why the row stays pending, when it does
};

using PendingMessages = std::function<void()>;
using RowReporter = std::function<void(const RowResult&)>;

/// "Clean" over the checked rows: first the programs of the checked worm-family
/// rows are ended (a file row's file, the program a registry row's value starts),
/// each once for the action, then a worm-family registry row loses exactly its
/// value and a worm-family file or memory row gets the full system repair, once
/// per action and Windows system (a further row of that system loses only its
/// file); rows of other viruses stay checked.
/// Each row's registry changes are made together (one RegistryBatch commit)
/// and read back. A row reads "This object was cleaned!" only when its file or value
/// is gone and every registry value its repair set took effect; otherwise it
/// stays pending and checked, and its result tells why.
/// processEvents runs after each repaired row; report then gets the row, before
/// the next row is repaired.
/// A row acts on the system it names; one that names none, on system (the one
/// its scan ran on; null for the one the program runs with).
/// With a sink that does not apply, no row changes. Call UpdateActionButtons after.
void CleanRows(DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& system, ChangeSink& sink,
               const PendingMessages& processEvents, const RowReporter& report);

/// "Delete" over the checked rows: a registry row loses its value, a worm-family
/// file row gets the full repair (once per system, as for CleanRows), any other
/// file is deleted; worm programs are
/// ended first as for CleanRows. A row reads "This object was deleted!" only when
/// its object is gone afterwards (for a plain file: when this call deleted it)
/// and its repair's registry values took effect. Same callbacks as CleanRows.
void DeleteRows(DetectionList& rows, const std::shared_ptr<platform::WindowsSystem>& system, ChangeSink& sink,
                const PendingMessages& processEvents, const RowReporter& report);

}  // namespace korbu
