#pragma once
// The binding to the engine library: the library is loaded at run time by name
// and its twelve "clam_" entries are looked up by name. One binding per process.

#include <cstddef>
#include <cstdint>
#include <string>

namespace korbu {

/// The limits record handed to the scan entries by address; its layout is part of
/// the library's interface.
struct EngineLimits {
  std::int32_t maxreclevel = 6;
  std::int32_t maxfiles = 1000;
  std::int32_t maxratio = 1000;
  std::int16_t archivememlim = 0;
  std::int32_t maxfilesize = 10485760;
};
static_assert(offsetof(EngineLimits, maxreclevel) == 0);
static_assert(offsetof(EngineLimits, maxfiles) == 4);
static_assert(offsetof(EngineLimits, maxratio) == 8);
static_assert(offsetof(EngineLimits, archivememlim) == 12);
static_assert(offsetof(EngineLimits, maxfilesize) == 16);
static_assert(sizeof(EngineLimits) == 20);

/// Size of the name buffer that the scan entries write the virus name into.
inline constexpr std::size_t kEngineNameBufferSize = 512;

/// The library's file name on this platform.
extern const char* const kEngineLibraryFileName;

/// Results of the scan entries that mean the file could not be read (libclamav's
/// open, stat, read, seek, dup, access and map errors), as opposed to a verdict.
inline constexpr int kEngineReadErrors[] = {8, 11, 12, 13, 15, 16, 19};

/// Results of the scan entries that mean a limit of the limits record kept the
/// library from judging the whole file (libclamav's recursion, size and file-count
/// codes).
inline constexpr int kEngineMaxRecursionResult = 23;
inline constexpr int kEngineMaxFileSizeResult = 24;
inline constexpr int kEngineMaxFilesResult = 25;

/// The entries of a bound library, with the arguments and results the program
/// relies on. The three it never calls are only checked to be present.
struct EngineEntries {
  using Unused = void (*)();
  using ScanFile = int (*)(const char* path, char* name, std::uint32_t* scanned, void* engine,
                           const EngineLimits* limits, unsigned int options);
  using Build = int (*)(void* engine);
  using Free = void (*)(void* engine);
  using LoadDb = void* (*)(const char* path, std::uint32_t* signatures, std::int32_t* status);
  using ScanDesc = int (*)(int desc, char* name, std::uint32_t* scanned, void* engine,
                           const EngineLimits* limits, unsigned int options);
  using CvdVerify = int (*)(const char* path);
  using StrError = const char* (*)(int code);
  using Problem = const char* (*)();
  using FunctionalityLevel = unsigned int (*)();
  using Version = const char* (*)();
  using LoadDbDirs = void* (*)(const char* official, const char* local, std::uint32_t* signatures,
                               std::int32_t* status);
  using SetTempDir = int (*)(void* engine, const char* folder);
  using Widen = int (*)(void* engine, std::uint32_t parse, std::uint64_t maxScanSize);
  using LoadDbPaths = void* (*)(const char* const* paths, std::uint32_t count, std::uint32_t* signatures,
                                std::int32_t* status, std::uint32_t* failed);
  using ScanDescFacts = int (*)(int desc, char* name, std::uint32_t* scanned, void* engine,
                                const EngineLimits* limits, unsigned int options, std::uint32_t* facts);

  Unused scanbuff = nullptr;
  ScanFile scanfile = nullptr;
  ScanDesc scandesc = nullptr;
  FunctionalityLevel retflevel = nullptr;
  Version retver = nullptr;
  StrError strerror = nullptr;
  Unused debug = nullptr;
  Build build = nullptr;
  Free free = nullptr;
  LoadDb loaddbdir = nullptr;
  LoadDb loaddb = nullptr;
  CvdVerify cvdverify = nullptr;
  /// Optional, beyond the twelve: why the library cannot scan (it found no usable
  /// libclamav); empty or null when it can.
  Problem problem = nullptr;
  /// Optional: the folder of the installed ClamAV the library uses, or empty.
  Problem clamavFolder = nullptr;
  /// Optional: a new engine from the databases of a folder loaded as the
  /// signature provider's own and of a local one (either may be null).
  LoadDbDirs loaddbdirs = nullptr;
  /// Optional: a new engine from several folders and database files, naming the
  /// one that failed.
  LoadDbPaths loaddbpaths = nullptr;
  /// Optional: sets the folder of an engine's temporary files.
  SetTempDir setTempDir = nullptr;
  /// Optional: more formats parsed, and a limit of the bytes one scan reads.
  Widen widen = nullptr;
  /// Optional: scandesc that also tells what the scan saw of the file.
  ScanDescFacts scandescFacts = nullptr;
};

/// Formats widen may add (libclamav's CL_SCAN_PARSE_ bits, which the library
/// passes on as they are).
inline constexpr std::uint32_t kEngineParseElf = 0x2;
inline constexpr std::uint32_t kEngineParsePdf = 0x4;
inline constexpr std::uint32_t kEngineParseSwf = 0x8;
inline constexpr std::uint32_t kEngineParseHwp3 = 0x10;
inline constexpr std::uint32_t kEngineParseXmlDocs = 0x20;
inline constexpr std::uint32_t kEngineParseOneNote = 0x400;

/// Facts of scandescFacts (KORBU_FACT_ of the engine library).
inline constexpr std::uint32_t kEngineFactMatchedAsBytes = 0x1;
inline constexpr std::uint32_t kEngineFactMatchedAsText = 0x2;

/// True when the engine library is loaded and all twelve entries were found.
/// The first success is final: later calls return true at once. A failure keeps
/// nothing loaded, and the next call tries again. The library is looked for
/// beside the running executable first, then through the platform's library
/// search.
bool LoadEngineLibrary();

/// Why the last LoadEngineLibrary failed: the library file and folder it looked
/// for and the loader's error, a missing entry, or the library's own complaint
/// (no usable libclamav). Empty once the library is bound.
std::string EngineLibraryProblem();

/// The entries of the bound library. Only meaningful after LoadEngineLibrary
/// returned true; every pointer is null before.
const EngineEntries& EngineLibrary();

/// For tests: bind the library of this file name instead, looked for in folder
/// first (when not empty), then through the library search. Forgets a binding
/// made before, as ResetEngineLibraryForTests does.
void SetEngineLibraryLocationForTests(const std::string& fileName, const std::string& folder);

/// For tests: forgets the binding so that the next LoadEngineLibrary loads anew,
/// and restores the normal location. A library bound before stays mapped (engines
/// made by it may still be released through it).
void ResetEngineLibraryForTests();

}  // namespace korbu
