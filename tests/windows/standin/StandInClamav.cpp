// A stand-in for ClamAV's libclamav.dll: the cl_ functions the engine library
// uses, with a trivial matcher. A file holding the marker is a virus; a database
// is any file starting with a CVD header; a folder loads as one signature.
// KORBU_STANDIN_FLEVEL sets the functionality level it reports.

#include <windows.h>

#include <cstddef>
#include <cstdio>
#include <cstring>
#include <string>

#define STANDIN_API extern "C" __declspec(dllexport)

namespace {

constexpr char kMarker[] = "KORBU-STANDIN-ENGINE-MARKER";
constexpr char kVirusName[] = "Korbu.StandIn.Marker";
constexpr int kSuccess = 0, kVirus = 1, kNullArg = 2, kOpen = 8, kVerify = 6, kEmem = 20;

struct StandInEngine {
  long long limits[32] = {};
  std::string tmpdir;
  bool compiled = false;
};
struct StandInMap {
  std::string bytes;
};
struct Options {
  unsigned int general, parse, heuristic, mail, dev;
};

int Match(const std::string& bytes, const char** virname) {
  if (bytes.find(kMarker) == std::string::npos) return kSuccess;
  if (virname != nullptr) *virname = kVirusName;
  return kVirus;
}

// Paths as ClamAV's Windows build takes them: UTF-8.
std::wstring WidePath(const char* path) {
  const int length = ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, nullptr, 0);
  if (length <= 0) return {};
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  ::MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, path, -1, wide.data(), length);
  return wide;
}

bool ReadWhole(const char* path, std::string& bytes) {
  FILE* file = ::_wfopen(WidePath(path).c_str(), L"rb");
  if (file == nullptr) return false;
  char chunk[4096];
  std::size_t n;
  while ((n = std::fread(chunk, 1, sizeof chunk, file)) > 0) bytes.append(chunk, n);
  std::fclose(file);
  return true;
}

}  // namespace

STANDIN_API int cl_init(unsigned int) { return kSuccess; }
STANDIN_API void cl_set_clcb_msg(void*) {}
STANDIN_API void cl_debug() {}
STANDIN_API unsigned int cl_retflevel() { return KORBU_STANDIN_FLEVEL; }
STANDIN_API const char* cl_retver() { return KORBU_STANDIN_FLEVEL >= 190 ? "1.4.0-standin" : "1.0.0-standin"; }
STANDIN_API const char* cl_strerror(int code) { return code == 0 ? "No viruses detected" : "stand-in error"; }

STANDIN_API void* cl_engine_new() { return new StandInEngine; }
STANDIN_API int cl_engine_free(void* engine) {
  delete static_cast<StandInEngine*>(engine);
  return kSuccess;
}
STANDIN_API int cl_engine_set_num(void* engine, int field, long long value) {
  if (engine == nullptr || field < 0 || field >= 32) return kNullArg;
  static_cast<StandInEngine*>(engine)->limits[field] = value;
  return kSuccess;
}
STANDIN_API int cl_engine_set_str(void* engine, int field, const char* value) {
  if (engine == nullptr || value == nullptr || field != 13) return kNullArg;
  static_cast<StandInEngine*>(engine)->tmpdir = value;
  return kSuccess;
}
STANDIN_API long long cl_engine_get_num(const void* engine, int field, int* err) {
  if (err != nullptr) *err = 0;
  if (engine == nullptr || field < 0 || field >= 32) return -1;
  return static_cast<const StandInEngine*>(engine)->limits[field];
}
STANDIN_API int cl_engine_compile(void* engine) {
  if (engine == nullptr) return kNullArg;
  static_cast<StandInEngine*>(engine)->compiled = true;
  return kSuccess;
}
STANDIN_API int cl_load(const char* path, void* engine, unsigned int* signo, unsigned int) {
  if (path == nullptr || engine == nullptr) return kNullArg;
  if (::GetFileAttributesW(WidePath(path).c_str()) == INVALID_FILE_ATTRIBUTES) return kOpen;
  if (signo != nullptr) *signo += 1;
  return kSuccess;
}
STANDIN_API int cl_cvdverify(const char* path) {
  std::string bytes;
  if (path == nullptr || !ReadWhole(path, bytes)) return kOpen;
  return bytes.rfind("ClamAV-VDB:", 0) == 0 ? kSuccess : kVerify;
}

STANDIN_API void cl_engine_set_clcb_file_inspection(void*, void*) {}

STANDIN_API int cl_scanfile_callback(const char* path, const char** virname, unsigned long* scanned,
                                     const void* engine, Options*, void*) {
  std::string bytes;
  if (path == nullptr || engine == nullptr) return kNullArg;
  if (!ReadWhole(path, bytes)) return kOpen;
  if (scanned != nullptr) *scanned = static_cast<unsigned long>(bytes.size() / 4096);
  return Match(bytes, virname);
}
// The engine library scans descriptors through memory maps of their files; a call
// here would mean a C-runtime descriptor crossed over, so it fails visibly.
STANDIN_API int cl_scandesc_callback(int, const char*, const char**, unsigned long*, const void*, Options*, void*) {
  return kOpen;
}

STANDIN_API void* cl_fmap_open_memory(const void* start, std::size_t length) {
  if (start == nullptr) return nullptr;
  return new StandInMap{std::string(static_cast<const char*>(start), length)};
}
STANDIN_API void cl_fmap_close(void* map) { delete static_cast<StandInMap*>(map); }
STANDIN_API int cl_scanmap_callback(void* map, const char*, const char** virname, unsigned long* scanned,
                                    const void* engine, Options*, void*) {
  if (map == nullptr || engine == nullptr) return kNullArg;
  const std::string& bytes = static_cast<StandInMap*>(map)->bytes;
  if (scanned != nullptr) *scanned = static_cast<unsigned long>(bytes.size() / 4096);
  return Match(bytes, virname);
}
