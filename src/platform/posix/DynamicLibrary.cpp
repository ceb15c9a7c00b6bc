#include "platform/DynamicLibrary.h"

#include <dlfcn.h>

#include <cstring>
#include <utility>

namespace korbu::platform {
namespace {

thread_local std::string lastOpenError;

}  // namespace

std::optional<DynamicLibrary> DynamicLibrary::Open(const std::string& nameOrPath) {
  lastOpenError = "no library name";
  if (nameOrPath.empty()) return std::nullopt;
  // RTLD_LOCAL: the library's own symbols must not satisfy anybody else's lookups.
  void* handle = ::dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle == nullptr) {
    const char* error = ::dlerror();
    lastOpenError = error != nullptr ? error : "cannot be loaded";
    return std::nullopt;
  }
  lastOpenError.clear();
  return DynamicLibrary(handle);
}

std::string DynamicLibrary::LastOpenError() { return lastOpenError; }

bool DynamicLibrary::IsLoaded(const std::string& nameOrPath) {
  if (nameOrPath.empty()) return false;
  void* handle = ::dlopen(nameOrPath.c_str(), RTLD_NOW | RTLD_NOLOAD);
  if (handle == nullptr) return false;
  ::dlclose(handle);  // drops only the reference RTLD_NOLOAD just took
  return true;
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)) {}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept {
  if (this != &other) {
    if (handle_ != nullptr) ::dlclose(handle_);
    handle_ = std::exchange(other.handle_, nullptr);
  }
  return *this;
}

DynamicLibrary::~DynamicLibrary() {
  if (handle_ != nullptr) ::dlclose(handle_);
}

DynamicLibrary::Entry DynamicLibrary::FindEntry(const char* name) const {
  if (handle_ == nullptr || name == nullptr) return nullptr;
  ::dlerror();
  void* address = ::dlsym(handle_, name);
  if (address == nullptr) return nullptr;
  // POSIX guarantees that an object pointer from dlsym holds a function address.
  Entry entry = nullptr;
  static_assert(sizeof(entry) == sizeof(address));
  std::memcpy(&entry, &address, sizeof(entry));
  return entry;
}

void DynamicLibrary::KeepLoaded() { handle_ = nullptr; }

}  // namespace korbu::platform
