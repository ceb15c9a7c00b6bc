// A stand-in for the engine library whose answers the tests choose:
// - loading succeeds for a path containing "good" (7 signatures for a file,
//   12 for a folder) and fails otherwise; a path containing "nobuild" gives an
//   engine whose build fails;
// - clam_cvdverify accepts a path containing "good";
// - clam_scanfile and clam_scandesc read the file: "NAME:<bytes>" answers 1 and copies up to 512
//   of the bytes into the buffer unterminated (as a careless library might);
//   "CODE:<n>" answers n with a name left in the buffer; anything else is clean.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include <unistd.h>

#include "fake/FakeEngineRecord.h"

namespace {

korbu::test::FakeEngineRecord record;
int engineToken = 0;  // its address serves as the engine handle

void* Load(const char* path, uint32_t* signo, int32_t* status, uint32_t count) {
  std::snprintf(record.lastLoadPath, sizeof record.lastLoadPath, "%s", path ? path : "");
  bool good = path != nullptr && std::strstr(path, "good") != nullptr;
  if (signo != nullptr) *signo = good ? count : 0;
  if (status != nullptr) *status = good ? 0 : 8;
  return good ? &engineToken : nullptr;
}

std::string ReadFile(const char* path) {
  std::string content;
  if (std::FILE* f = std::fopen(path, "rb")) {
    char chunk[4096];
    std::size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0) content.append(chunk, n);
    std::fclose(f);
  }
  return content;
}

std::string ReadDescriptor(int desc) {
  std::string content;
  char chunk[4096];
  ssize_t n;
  while ((n = ::pread(desc, chunk, sizeof chunk, static_cast<off_t>(content.size()))) > 0) {
    content.append(chunk, static_cast<std::size_t>(n));
  }
  return content;
}

int Answer(const std::string& content, char* name, uint32_t* scanned, const void* limits,
           unsigned int options) {
  if (limits != nullptr) std::memcpy(record.lastLimits, limits, sizeof record.lastLimits);
  record.lastOptions = options;
  if (scanned != nullptr) *scanned = 1;
  if (content.rfind("NAME:", 0) == 0) {
    std::string text = content.substr(5, 512);
    std::memcpy(name, text.data(), text.size());
    if (text.size() < 512) name[text.size()] = '\0';
    return 1;
  }
  if (content.rfind("CODE:", 0) == 0) {
    std::snprintf(name, 512, "%s", "Leftover.Name");
    return std::atoi(content.c_str() + 5);
  }
  name[0] = '\0';
  return 0;
}

}  // namespace

#define FAKE_API extern "C" __attribute__((visibility("default")))

FAKE_API korbu::test::FakeEngineRecord* fake_record() { return &record; }

FAKE_API int clam_scanbuff() { return 0; }
FAKE_API unsigned int clam_retflevel() { return 0; }
FAKE_API const char* clam_retver() { return "fake"; }
FAKE_API const char* clam_strerror(int code) { return code == 12 ? "fake read error" : "fake"; }
FAKE_API void clam_debug() {}

FAKE_API int clam_scanfile(const char* path, char* name, uint32_t* scanned, void* /*engine*/,
                           const void* limits, unsigned int options) {
  ++record.scanfileCalls;
  return Answer(ReadFile(path), name, scanned, limits, options);
}

FAKE_API int clam_scandesc(int desc, char* name, uint32_t* scanned, void* /*engine*/,
                           const void* limits, unsigned int options) {
  ++record.scandescCalls;
  return Answer(ReadDescriptor(desc), name, scanned, limits, options);
}

FAKE_API int clam_build(void*) {
  ++record.buildCalls;
  return std::strstr(record.lastLoadPath, "nobuild") != nullptr ? 4 : 0;
}

FAKE_API void clam_free(void*) { ++record.freeCalls; }

FAKE_API void* clam_loaddbdir(const char* path, uint32_t* signo, int32_t* status) {
  ++record.loaddbdirCalls;
  return Load(path, signo, status, 12);
}

FAKE_API void* clam_loaddb(const char* path, uint32_t* signo, int32_t* status) {
  ++record.loaddbCalls;
  return Load(path, signo, status, 7);
}

FAKE_API int clam_cvdverify(const char* path) {
  return path != nullptr && std::strstr(path, "good") != nullptr ? 0 : 6;
}
