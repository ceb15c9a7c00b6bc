// The entries of the engine library: the twelve "clam_" ones and two that tell
// about the libclamav behind them. Everything else in the library is hidden;
// these are its whole interface.

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include <algorithm>
#include <cstdint>
#include <functional>
#include <limits>

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
                        const cl_engine& engine, cl_scan_options& options) {
  if (map == nullptr) return failed;
  const cl_error_t result = Clam()->scanmap_callback(map, nullptr, virname, blocks, &engine, &options, nullptr);
  Clam()->fmap_close(map);
  return result;
}

#ifdef _WIN32
// libclamav reads the file through this: offset and result are off_t there, whose
// width on Windows depends on libclamav's build. libclamav scans no file of 2 GiB
// or more, so only the offset's lower 32 bits are used, and the result fits in
// either width.
extern "C" long long ReadHandle(void* handle, void* buffer, std::size_t count, long long offset) {
  OVERLAPPED at{};
  at.Offset = static_cast<DWORD>(static_cast<unsigned long long>(offset) & 0xFFFFFFFFu);
  DWORD wanted = static_cast<DWORD>(std::min<std::size_t>(count, 0x7FFFFFFF));
  DWORD got = 0;
  if (!::ReadFile(static_cast<HANDLE>(handle), buffer, wanted, &got, &at)) {
    return ::GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
  }
  return got;
}

// A descriptor of this library's C runtime means nothing to libclamav's, which is
// another one: libclamav gets the descriptor's system handle, read by the bridge.
cl_error_t ScanDescriptor(int desc, const char** virname, unsigned long* blocks, const cl_engine& engine,
                          cl_scan_options& options) {
  HANDLE handle = reinterpret_cast<HANDLE>(::_get_osfhandle(desc));
  LARGE_INTEGER size{};
  if (handle == INVALID_HANDLE_VALUE || !::GetFileSizeEx(handle, &size)) return CL_EARG;
  return ScanAndClose(Clam()->fmap_open_handle(handle, 0, static_cast<std::size_t>(size.QuadPart), ReadHandle, 0),
                      CL_EMAP, virname, blocks, engine, options);
}
#else
extern "C" long long ReadDescriptor(void* handle, void* buffer, std::size_t count, long long offset) {
  const int desc = static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
  ssize_t got = 0;
  do {
    got = ::pread(desc, buffer, count, static_cast<off_t>(offset));
  } while (got < 0 && errno == EINTR);
  return got;
}

// Up to this size a file is mapped on the heap, above it libclamav maps it itself.
constexpr std::uint64_t kHeapMapLimit = 1u << 20;

// libclamav's own map of a descriptor takes fresh pages from the system for every
// file and gives them back after it; in a process with several threads each give-back
// interrupts the other cores to flush their address caches, which cost a tenth of a
// scan's time. A map on the heap, as on Windows, reuses the same memory file after
// file. Larger files stay with libclamav's map: for them that cost is small beside
// the scan, and the heap keeps no large blocks after them.
cl_error_t ScanDescriptor(int desc, const char** virname, unsigned long* blocks, const cl_engine& engine,
                          cl_scan_options& options) {
  struct stat st {};
  if (::fstat(desc, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size <= 0 ||
      static_cast<std::uint64_t>(st.st_size) > kHeapMapLimit) {
    return Clam()->scandesc(desc, nullptr, virname, blocks, &engine, &options);
  }
  return ScanAndClose(Clam()->fmap_open_handle(reinterpret_cast<void*>(static_cast<std::intptr_t>(desc)), 0,
                                               static_cast<std::size_t>(st.st_size), ReadDescriptor, 0),
                      CL_EMAP, virname, blocks, engine, options);
}
#endif

}  // namespace

extern "C" {

KORBU_CLAM_API int clam_scanbuff(const char* buffer, uint32_t length, char* name, void* engine) {
  CopyVirusName(nullptr, name);
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (buffer == nullptr || engine == nullptr) return CL_ENULLARG;
  const char* virname = nullptr;
  cl_error_t result = FromHandle(engine)->Scan(nullptr, [&](const cl_engine& e) {
    cl_scan_options options{};  // raw signatures only, as the legacy entry did
    unsigned long blocks = 0;
    return ScanAndClose(Clam()->fmap_open_memory(buffer, length), CL_EMEM, &virname, &blocks, e, options);
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
  cl_error_t result = FromHandle(engine)->Scan(limits, [&](const cl_engine& e) {
    unsigned long blocks = 0;
    cl_error_t r = Clam()->scanfile(path, &virname, &blocks, &e, &scanOptions);
    StoreScanned(scanned, blocks);
    return r;
  });
  return FinishScan(result, virname, name);
}

KORBU_CLAM_API int clam_scandesc(int desc, char* name, uint32_t* scanned, void* engine,
                                 const struct clam_limits* limits, unsigned int options) {
  CopyVirusName(nullptr, name);
  StoreScanned(scanned, 0);
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (engine == nullptr) return CL_ENULLARG;
  if (desc < 0) return CL_EARG;
  const char* virname = nullptr;
  cl_scan_options scanOptions = korbu::bridge::MapLegacyOptions(options);
  cl_error_t result = FromHandle(engine)->Scan(limits, [&](const cl_engine& e) {
    unsigned long blocks = 0;
    cl_error_t r = ScanDescriptor(desc, &virname, &blocks, e, scanOptions);
    StoreScanned(scanned, blocks);
    return r;
  });
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

KORBU_CLAM_API int clam_cvdverify(const char* path) {
  if (EnsureInitialised() != CL_SUCCESS) return CL_ERROR;
  if (path == nullptr) return CL_ENULLARG;
  return static_cast<int>(Clam()->cvdverify(path));
}

}  // extern "C"
