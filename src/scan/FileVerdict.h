#pragma once
// The verdict on one file: the engine's name, replaced by a known variant's name
// when the file's checksum is in the variant table, or else by the heuristic's
// name when that test is on and finds its pattern.

#include <string>

#include "engine/EngineScanner.h"
#include "platform/OpenedFile.h"
#include "scan/ScanContext.h"

namespace korbu {

/// Gives the file a verdict from the engine and the heuristic option given (the
/// engine may be null or inactive). Returns true when verdict (always rewritten)
/// names a virus. The file is opened once (a link, FIFO or anything else that is
/// not a regular file is refused) and every test reads that one open file, the
/// own ones in bounded blocks. When error is given it receives why the file could
/// not be judged, or judged only in part ("Permission denied", "not a regular
/// file", a read error), and is emptied when the file was read as needed.
/// Reentrant: verdicts of one scan may run on several threads at once.
bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine,
              bool heuristicEnabled, std::string* error = nullptr);

/// The same for a file already open (standard input kept in a temporary file).
bool ScanOpenedFile(platform::OpenedFile& file, std::string& verdict, EngineScanner* engine,
                    bool heuristicEnabled, std::string* error = nullptr);

/// The same with the sources of one scan.
inline bool ScanFile(const std::string& path, std::string& verdict, const ScanContext& context,
                     std::string* error = nullptr) {
  return ScanFile(path, verdict, context.engine, context.heuristic, error);
}

}  // namespace korbu
