#include "bridge/ClamLoader.h"

#include <dlfcn.h>

namespace korbu::bridge {
namespace {

// libclamav 1.2 to 1.4 (12) and the 1.0 long-term releases (11), which are then
// refused by their functionality level with a clear reason.
#ifndef KORBU_BRIDGE_LIBCLAMAV
#define KORBU_BRIDGE_LIBCLAMAV "libclamav.so.12", "libclamav.so.11"
#endif
constexpr const char* kLibraryNames[] = {KORBU_BRIDGE_LIBCLAMAV};

}  // namespace

void* OpenLibclamav(std::string& problem) {
  std::string errors;
  for (const char* name : kLibraryNames) {
    // RTLD_LOCAL: libclamav's symbols must not satisfy anybody else's lookups.
    if (void* library = ::dlopen(name, RTLD_NOW | RTLD_LOCAL)) return library;
    const char* error = ::dlerror();
    errors += std::string(errors.empty() ? "" : "; ") + (error != nullptr ? error : name);
  }
  problem = "no libclamav found by the library search (" + errors + ")";
  return nullptr;
}

void* LibclamavFunction(void* library, const char* name) { return ::dlsym(library, name); }

void CloseLibclamav(void* library) { ::dlclose(library); }

const std::string& LibclamavFolder() {
  static const std::string none;
  return none;
}

}  // namespace korbu::bridge
