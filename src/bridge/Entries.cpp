// The entries of the engine library: the twelve "clam_" ones and two that tell
// about the libclamav behind them. Everything else in the library is hidden;
// these are its whole interface.

#ifdef _WIN32
#include <io.h>
#include <windows.h>

#include "platform/win32/WindowsSupport.h"
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>
#include <memory>

#include "bridge/ClamLibrary.h"
#include "bridge/ClamLoader.h"
#include "bridge/Engine.h"
#include "bridge/LegacyOptions.h"
#include "bridge/Library.h"
#include "bridge/VirusName.h"
#include "bridge/korbu_clam.h"

using namespace korbu::bridge::clam;
using korbu::bridge::Clam;
using korbu::bridge::ClamProblem;
using korbu::bridge::CopyVirusName;
using korbu::bridge::Engine;
using korbu::bridge::ScanNotes;
using korbu::bridge::EnsureInitialised;

namespace {

Engine* FromHandle(void* handle) { return static_cast<Engine*>(handle); }

// libclamav counts in blocks of CL_COUNT_PRECISION bytes; the caller's count is 32 bits.
void StoreScanned(std::uint32_t* scanned, unsigned long blocks) {
  if (scanned == nullptr) return;
  *scanned = static_cast<std::uint32_t>(
      std::min<unsigned long>(blocks, std::numeric_limits<std::uint32_t>::max()));
}

// The common tail of the scan entries: the name buffer always ends up holding a
// text, the virus name exactly when the result is CL_VIRUS. libclamav's alert on
// a scanned file larger than the size limit comes without a name; since 1 must
// mean "a named virus", that is reported as an error (the file was not scanned).
int FinishScan(cl_error_t result, const char* virname, char* name) {
  if (result == CL_VIRUS && (virname == nullptr || *virname == '\0')) result = CL_EMAXSIZE;
  CopyVirusName(result == CL_VIRUS ? virname : nullptr, name);
  return static_cast<int>(result);
}

void* LoadDatabases(const std::function<Engine*(std::uint32_t&, cl_error_t&)>& load, std::uint32_t* signo,
                    std::int32_t* status) {
  std::uint32_t signatures = 0;
  cl_error_t result = EnsureInitialised();
  Engine* engine = nullptr;
  if (result == CL_SUCCESS) engine = load(signatures, result);
  if (signo != nullptr) *signo = signatures;
  if (status != nullptr) *status = static_cast<std::int32_t>(result);
  return engine;
}

// Scans the map and closes it; a null map (mapping failed) gives failed.
cl_error_t ScanAndClose(cl_fmap_t* map, cl_error_t failed, const char** virname, unsigned long* blocks,
                        const cl_engine& engine, cl_scan_options& options, ScanNotes& notes) {
  if (map == nullptr) return failed;
  const cl_error_t result = Clam()->scanmap_callback(map, nullptr, virname, blocks, &engine, &options, &notes);
  Clam()->fmap_close(map);
  return result;
}

// The whole of a file that is already in memory, scanned as libclamav scans a
// descriptor. Only memory maps are handed over: libclamav's maps of a caller's
// handle take the handle for a descriptor of its own and check the file's time
// against a time they never recorded, so every read of a page they keep locked
// fails as "file changed as we read it" (libclamav 1.4), and an archive past a
// limit then passes without its alert.
cl_error_t ScanMemory(const void* data, std::size_t size, const char** virname, unsigned long* blocks,
                      const cl_engine& engine, cl_scan_options& options, ScanNotes& notes) {
  return ScanAndClose(Clam()->fmap_open_memory(data, size), CL_EMEM, virname, blocks, engine, options, notes);
}

// libclamav leaves a descriptor of fewer bytes than this unscanned.
constexpr std::uint64_t kSmallestScanned = 6;

// A file over the engine's size limit is not scanned. libclamav alerts on it only
// with the over-limit heuristic, and then without a name; either way the caller
// must learn that the file was not judged, never take it for clean.
bool OverSizeLimit(std::uint64_t size, const ScanNotes& notes) {
  return notes.maxFileSize > 0 && size > static_cast<std::uint64_t>(notes.maxFileSize);
}

cl_error_t ScanPath(const char* path, const char** virname, unsigned long* blocks, const cl_engine& engine,
                    cl_scan_options& options, ScanNotes& notes) {
#ifdef _WIN32
  // The path is UTF-8, as every path of the program: the ANSI call would read it
  // in the system's code page.
  WIN32_FILE_ATTRIBUTE_DATA info{};
  if (::GetFileAttributesExW(korbu::platform::win32::Wide(path).c_str(), GetFileExInfoStandard, &info) &&
      OverSizeLimit((static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow, notes)) {
    return CL_EMAXSIZE;
  }
#else
  struct stat st {};
  if (::stat(path, &st) == 0 && S_ISREG(st.st_mode) && OverSizeLimit(static_cast<std::uint64_t>(st.st_size), notes)) {
    return CL_EMAXSIZE;
  }
#endif
  return Clam()->scanfile_callback(path, virname, blocks, &engine, &options, &notes);
}

#ifdef _WIN32
// A descriptor of this library's C runtime means nothing to libclamav's, which is
// another one. So the bridge does what libclamav's own descriptor scan does on
// Windows: it maps a view of the file and scans that.
cl_error_t ScanDescriptor(int desc, const char** virname, unsigned long* blocks, const cl_engine& engine,
                          cl_scan_options& options, ScanNotes& notes) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(desc));
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &size)) return CL_ESTAT;
  const auto bytes = static_cast<std::uint64_t>(size.QuadPart);
  if (bytes < kSmallestScanned) return CL_CLEAN;
  if (OverSizeLimit(bytes, notes)) return CL_EMAXSIZE;
  if (bytes > std::numeric_limits<SIZE_T>::max()) return CL_EMAP;
  HANDLE mapping = ::CreateFileMappingW(handle, nullptr, PAGE_READONLY, 0, 0, nullptr);
  if (mapping == nullptr) return CL_EMAP;
  const void* view = ::MapViewOfFile(mapping, FILE_MAP_READ, 0, 0, static_cast<SIZE_T>(bytes));
  cl_error_t result = CL_EMAP;
  if (view != nullptr) {
    result = ScanMemory(view, static_cast<std::size_t>(bytes), virname, blocks, engine, options, notes);
    ::UnmapViewOfFile(view);
  }
  ::CloseHandle(mapping);
  return result;
}
#else
// Up to this size a file is read whole onto the heap and handed to libclamav as a
// memory map; above it libclamav maps the descriptor itself.
constexpr std::uint64_t kHeapMapLimit = 1u << 20;

// Reads the whole file into buffer; the number of bytes read (fewer when the file
// shrank meanwhile), or -1 on a read error.
long long ReadWhole(int desc, char* buffer, std::uint64_t size) {
  std::uint64_t got = 0;
  while (got < size) {
    const ssize_t n = ::pread(desc, buffer + got, size - got, static_cast<off_t>(got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += static_cast<std::uint64_t>(n);
  }
  return static_cast<long long>(got);
}

// libclamav's own map of a descriptor takes fresh pages from the system for every
// file and gives them back after it; in a process with several threads each give-back
// interrupts the other cores to flush their address caches, which cost a tenth of a
// scan's time. A buffer of each scanning thread's own holds file after file instead.
// Larger files stay with libclamav's map: for them that cost is small beside the
// scan, and no thread keeps a large buffer after them.
cl_error_t ScanDescriptor(int desc, const char** virname, unsigned long* blocks, const cl_engine& engine,
                          cl_scan_options& options, ScanNotes& notes) {
  struct stat st {};
  if (::fstat(desc, &st) != 0 || !S_ISREG(st.st_mode)) {
    return Clam()->scandesc_callback(desc, nullptr, virname, blocks, &engine, &options, &notes);
  }
  const auto size = static_cast<std::uint64_t>(st.st_size);
  if (OverSizeLimit(size, notes)) return CL_EMAXSIZE;
  if (size < kSmallestScanned || size > kHeapMapLimit) {
    return Clam()->scandesc_callback(desc, nullptr, virname, blocks, &engine, &options, &notes);
  }
  thread_local const std::unique_ptr<char[]> buffer(new char[kHeapMapLimit]);
  const long long got = ReadWhole(desc, buffer.get(), size);
  if (got < 0) return CL_EREAD;
  if (static_cast<std::uint64_t>(got) < kSmallestScanned) return CL_CLEAN;
  return ScanMemory(buffer.get(), static_cast<std::size_t>(got), virname, blocks, engine, options, notes);
}
#endif

}  // namespace

extern "C" {

KORBU_CLAM_API int clam_scanbuff(const char* buffer, uint32_t length, char* name, void* engine) {
  CopyVirusName(nullptr, name);
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (buffer == nullptr || engine == nullptr) return CL_ENULLARG;
  const char* virname = nullptr;
  cl_error_t result = FromHandle(engine)->Scan(nullptr, [&](const cl_engine& e, ScanNotes& notes) {
    cl_scan_options options{};  // raw signatures only, as the legacy entry did
    unsigned long blocks = 0;
    return ScanMemory(buffer, length, &virname, &blocks, e, options, notes);
  });
  return FinishScan(result, virname, name);
}

KORBU_CLAM_API int clam_scanfile(const char* path, char* name, uint32_t* scanned, void* engine,
                                 const struct clam_limits* limits, unsigned int options) {
  CopyVirusName(nullptr, name);
  StoreScanned(scanned, 0);
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (path == nullptr || engine == nullptr) return CL_ENULLARG;
  const char* virname = nullptr;
  cl_scan_options scanOptions = korbu::bridge::MapLegacyOptions(options);
  cl_error_t result = FromHandle(engine)->Scan(limits, [&](const cl_engine& e, ScanNotes& notes) {
    unsigned long blocks = 0;
    scanOptions.parse |= FromHandle(engine)->AddedParse();
    cl_error_t r = ScanPath(path, &virname, &blocks, e, scanOptions, notes);
    StoreScanned(scanned, blocks);
    return r;
  });
  return FinishScan(result, virname, name);
}

KORBU_CLAM_API int clam_scandesc(int desc, char* name, uint32_t* scanned, void* engine,
                                 const struct clam_limits* limits, unsigned int options) {
  return korbu_scandesc_facts(desc, name, scanned, engine, limits, options, nullptr);
}

KORBU_CLAM_API int korbu_scandesc_facts(int desc, char* name, uint32_t* scanned, void* engine,
                                        const struct clam_limits* limits, unsigned int options, uint32_t* facts) {
  CopyVirusName(nullptr, name);
  StoreScanned(scanned, 0);
  if (facts != nullptr) *facts = 0;
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (engine == nullptr) return CL_ENULLARG;
  if (desc < 0) return CL_EARG;
  const char* virname = nullptr;
  cl_scan_options scanOptions = korbu::bridge::MapLegacyOptions(options);
  cl_error_t result = FromHandle(engine)->Scan(limits, [&](const cl_engine& e, ScanNotes& notes) {
    unsigned long blocks = 0;
    scanOptions.parse |= FromHandle(engine)->AddedParse();
    notes.htmlParsed = (scanOptions.parse & kScanParseHtml) != 0;
    cl_error_t r = ScanDescriptor(desc, &virname, &blocks, e, scanOptions, notes);
    StoreScanned(scanned, blocks);
    return r;
  }, facts);
  return FinishScan(result, virname, name);
}

KORBU_CLAM_API unsigned int clam_retflevel(void) { return Clam() != nullptr ? Clam()->retflevel() : 0; }

KORBU_CLAM_API const char* clam_retver(void) { return Clam() != nullptr ? Clam()->retver() : ""; }

KORBU_CLAM_API const char* clam_strerror(int code) {
  if (code < 0 || code >= static_cast<int>(CL_ELAST_ERROR)) return "Unknown error code";
  if (Clam() == nullptr) return code == CL_SUCCESS ? "Success" : "No libclamav";
  return Clam()->strerror(static_cast<cl_error_t>(code));
}

KORBU_CLAM_API const char* korbu_engine_problem(void) { return ClamProblem().c_str(); }

KORBU_CLAM_API const char* korbu_clamav_folder(void) {
  return Clam() != nullptr ? korbu::bridge::LibclamavFolder().c_str() : "";
}

#ifndef KORBU_BRIDGE_WITHOUT_DEBUG
KORBU_CLAM_API void clam_debug(void) {
  EnsureInitialised();
  korbu::bridge::EnableDebugMessages();
}
#endif

KORBU_CLAM_API int clam_build(void* engine) {
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (engine == nullptr) return CL_ENULLARG;
  return static_cast<int>(FromHandle(engine)->Build());
}

KORBU_CLAM_API void clam_free(void* engine) { delete FromHandle(engine); }

KORBU_CLAM_API void* clam_loaddbdir(const char* folder, uint32_t* signo, int32_t* status) {
  return LoadDatabases([&](std::uint32_t& n, cl_error_t& r) { return Engine::Load(folder, true, n, r); }, signo,
                       status);
}

KORBU_CLAM_API void* clam_loaddb(const char* path, uint32_t* signo, int32_t* status) {
  return LoadDatabases([&](std::uint32_t& n, cl_error_t& r) { return Engine::Load(path, false, n, r); }, signo,
                       status);
}

KORBU_CLAM_API void* korbu_loaddbdirs(const char* official, const char* local, uint32_t* signo, int32_t* status) {
  return LoadDatabases([&](std::uint32_t& n, cl_error_t& r) { return Engine::LoadFolders(official, local, n, r); },
                       signo, status);
}

KORBU_CLAM_API void* korbu_loaddbpaths(const char* const* paths, uint32_t count, uint32_t* signo, int32_t* status,
                                       uint32_t* failed) {
  std::uint32_t failedAt = count;
  void* engine = LoadDatabases(
      [&](std::uint32_t& n, cl_error_t& r) { return Engine::LoadPaths(paths, count, n, r, failedAt); }, signo, status);
  if (failed != nullptr) *failed = failedAt;
  return engine;
}

KORBU_CLAM_API int korbu_engine_set_tempdir(void* engine, const char* folder) {
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (engine == nullptr || folder == nullptr || *folder == '\0') return CL_ENULLARG;
  return static_cast<int>(FromHandle(engine)->SetTempFolder(folder));
}

KORBU_CLAM_API int korbu_engine_widen(void* engine, uint32_t parse, uint64_t maxscansize) {
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (engine == nullptr) return CL_ENULLARG;
  return static_cast<int>(FromHandle(engine)->Widen(parse, maxscansize));
}

KORBU_CLAM_API int clam_cvdverify(const char* path) {
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (path == nullptr) return CL_ENULLARG;
  return static_cast<int>(Clam()->cvdverify(path));
}

}  // extern "C"
