#pragma once
// The part of libclamav's public interface the bridge uses, declared here because
// libclamav is bound at run time and its own header pulls in OpenSSL's. Values and
// layouts are those of libclamav 1.2 and newer; a test holds them against Debian's
// clamav.h. Macros of that header are spelled differently here so that both can be
// included side by side.

#include <cstddef>
#include <cstdint>

namespace korbu::bridge::clam {

/// Functionality level of libclamav 1.2, the oldest release with these layouts.
inline constexpr unsigned int kMinimumFunctionalityLevel = 190;

enum cl_error_t : int {
  CL_CLEAN = 0,
  CL_SUCCESS = 0,
  CL_VIRUS,
  CL_ENULLARG,
  CL_EARG,
  CL_EMALFDB,
  CL_ECVD,
  CL_EVERIFY,
  CL_EUNPACK,
  CL_EOPEN,
  CL_ECREAT,
  CL_EUNLINK,
  CL_ESTAT,
  CL_EREAD,
  CL_ESEEK,
  CL_EWRITE,
  CL_EDUP,
  CL_EACCES,
  CL_ETMPFILE,
  CL_ETMPDIR,
  CL_EMAP,
  CL_EMEM,
  CL_ETIMEOUT,
  CL_BREAK,
  CL_EMAXREC,
  CL_EMAXSIZE,
  CL_EMAXFILES,
  CL_EFORMAT,
  CL_EPARSE,
  CL_EBYTECODE,
  CL_EBYTECODE_TESTFAIL,
  CL_ELOCK,
  CL_EBUSY,
  CL_ESTATE,
  CL_VERIFIED,
  CL_ERROR,
  CL_ELAST_ERROR
};

/// The engine settings the bridge reads and writes (the enumeration's first 26).
enum cl_engine_field : int {
  CL_ENGINE_MAX_SCANSIZE = 0,
  CL_ENGINE_MAX_FILESIZE = 1,
  CL_ENGINE_MAX_RECURSION = 2,
  CL_ENGINE_MAX_FILES = 3,
  CL_ENGINE_TMPDIR = 13,
  CL_ENGINE_DISABLE_CACHE = 25,
};

enum cl_msg : int {
  CL_MSG_INFO_VERBOSE = 32,
  CL_MSG_WARN = 64,
  CL_MSG_ERROR = 128,
};

struct cl_scan_options {
  std::uint32_t general;
  std::uint32_t parse;
  std::uint32_t heuristic;
  std::uint32_t mail;
  std::uint32_t dev;
};

inline constexpr std::uint32_t kScanGeneralHeuristics = 0x4;
inline constexpr std::uint32_t kScanParseArchive = 0x1;
inline constexpr std::uint32_t kScanParseElf = 0x2;
inline constexpr std::uint32_t kScanParsePdf = 0x4;
inline constexpr std::uint32_t kScanParseSwf = 0x8;
inline constexpr std::uint32_t kScanParseHwp3 = 0x10;
inline constexpr std::uint32_t kScanParseXmlDocs = 0x20;
inline constexpr std::uint32_t kScanParseMail = 0x40;
inline constexpr std::uint32_t kScanParseOle2 = 0x80;
inline constexpr std::uint32_t kScanParseHtml = 0x100;
inline constexpr std::uint32_t kScanParsePe = 0x200;
inline constexpr std::uint32_t kScanParseOneNote = 0x400;
inline constexpr std::uint32_t kScanHeuristicBroken = 0x2;
inline constexpr std::uint32_t kScanHeuristicExceedsMax = 0x4;
inline constexpr std::uint32_t kScanHeuristicEncryptedArchive = 0x40;
inline constexpr std::uint32_t kScanHeuristicEncryptedDoc = 0x80;

/// CL_DB_STDOPT: phishing signatures and URLs, and signed bytecode.
inline constexpr unsigned int kDbStandardOptions = 0x2 | 0x8 | 0x2000;
/// CL_DB_OFFICIAL: the signatures are the provider's own (their names as they stand).
inline constexpr unsigned int kDbOfficial = 0x40;
inline constexpr unsigned int kInitDefault = 0x0;

/// Bytes per unit of the "scanned" counts (CL_COUNT_PRECISION).
inline constexpr unsigned long kCountPrecision = 4096;

struct cl_engine;  // opaque
struct cl_fmap;    // opaque
using cl_fmap_t = cl_fmap;

extern "C" {
using clcb_msg = void (*)(cl_msg severity, const char* fullmsg, const char* msg, void* context);
/// Called for each layer of a scan (the file itself, then every file extracted
/// from it) with the context the scan was given.
using clcb_file_inspection = cl_error_t (*)(int fd, const char* type, const char** ancestors,
                                            std::size_t parent_file_size, const char* file_name,
                                            std::size_t file_size, const char* file_buffer,
                                            std::uint32_t recursion_level, std::uint32_t layer_attributes,
                                            void* context);
}

}  // namespace korbu::bridge::clam
