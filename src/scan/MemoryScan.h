#pragma once
#include "scan/ScanContext.h"
#include "scan/ScanFrontEnd.h"

namespace korbu {

/// Gives the image file of every running program (but the scanner's own first
/// entry) a verdict and lists each infected one as "Memory was infected". Reads
/// processes only. One path that cannot be judged is told through ShowFileError
/// and skipped, never the rest; a
/// process table that cannot be read scans nothing and is told through
/// ShowFileError; a set context.stop ends the phase. A row of a Windows program
/// under Wine names the prefix it runs in.
void ScanMemory(ScanFrontEnd& frontEnd, const ScanContext& context);

}  // namespace korbu
