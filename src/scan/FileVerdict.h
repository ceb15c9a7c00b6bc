#pragma once
// The verdict on one file: the engine's name, replaced by a known variant's name
// when the file's checksum is in the variant table, or else by the heuristic's
// name when that test is on and finds its pattern.

#include <cstdint>
#include <optional>
#include <string>

#include "engine/EngineScanner.h"
#include "platform/OpenedFile.h"
#include "scan/ScanContext.h"
#include "scan/ScanFrontEnd.h"

namespace korbu {

/// The verdict on one file and how far it could be judged.
struct FileVerdictResult {
  std::string path;
  std::string verdict;  // empty: clean
  std::string error;    // why the file could not be judged, or only in part; empty otherwise
  /// The engine limit that kept it from judging the whole file; none when it did.
  std::optional<EngineLimitReached> notWhole;
  /// Bytes the verdict read: none for a file the cache knew or that did not open.
  std::uint64_t bytesRead = 0;
  /// The file could not be opened, so nothing of it was judged.
  bool notOpened = false;

  /// Every source read all of the file, so that a clean verdict means clean.
  bool JudgedWhole() const { return error.empty() && !notWhole; }
};

/// Gives the file at path a verdict from the scan's sources. The file is opened
/// once (a link, FIFO or anything else that is not a regular file is refused) and
/// every test reads that one open file, the own ones in bounded blocks. error
/// tells why the file could not be judged, or only in part ("Permission denied",
/// "not a regular file", a read error); notWhole, the engine's limit that stopped
/// it. With the scan's verdict cache, a file the cache knows clean in the state it
/// is opened in is not read, one clean before a database update is judged against
/// the added signatures alone, and a clean verdict of a file judged whole is kept.
/// Reentrant: verdicts of one scan may run on several threads at once.
FileVerdictResult JudgeFile(std::string path, const ScanContext& context);

/// The same for a file already open (standard input kept in a temporary file),
/// reported under name.
FileVerdictResult JudgeOpenedFile(platform::OpenedFile& file, std::string name, const ScanContext& context);

/// Gives the file a verdict from the engine and the heuristic option given (the
/// engine may be null or inactive). Returns true when verdict (always rewritten)
/// names a virus. When error is given it receives why the file could not be
/// judged, or judged only in part, and is emptied when it was read as needed.
bool ScanFile(const std::string& path, std::string& verdict, EngineScanner* engine,
              bool heuristicEnabled, std::string* error = nullptr);

/// The same with the sources of one scan, and its verdict cache.
bool ScanFile(const std::string& path, std::string& verdict, const ScanContext& context,
              std::string* error = nullptr);

/// The same for a phase that runs on the main thread: a file that comes out clean
/// but was not judged whole is told to the front end.
bool ScanFile(const std::string& path, std::string& verdict, const ScanContext& context, ScanFrontEnd& frontEnd);
/// As that ScanFile, for a file already opened (named path).
bool ScanOpenedFile(platform::OpenedFile& file, const std::string& path, std::string& verdict,
                    const ScanContext& context, ScanFrontEnd& frontEnd);

}  // namespace korbu
