#pragma once
// Loading a shared library at run time and looking up its entries by name.

#include <optional>
#include <string>

namespace korbu::platform {

/// A shared library loaded into the process. Moves, never copies; unloading
/// happens on destruction unless the library was kept with KeepLoaded.
class DynamicLibrary {
 public:
  /// The generic form of an entry's address; callers cast it to the entry's type.
  using Entry = void (*)();

  /// Loads a library. A name holding a path delimiter is loaded from that path;
  /// a bare file name goes through the platform's library search. All entries
  /// are resolved at load time. Empty when it cannot be loaded.
  static std::optional<DynamicLibrary> Open(const std::string& nameOrPath);

  /// The loader's message for this thread's last failed Open.
  static std::string LastOpenError();

  /// True when a library with this name or path is loaded in the process already
  /// (by anyone); never loads it.
  static bool IsLoaded(const std::string& nameOrPath);

  DynamicLibrary(DynamicLibrary&& other) noexcept;
  DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;
  ~DynamicLibrary();

  /// The address of an exported entry; null when the library has no such entry.
  Entry FindEntry(const char* name) const;

  /// Gives up the handle without unloading: the library stays for the rest of the
  /// process (entries already found stay valid).
  void KeepLoaded();

 private:
  explicit DynamicLibrary(void* handle) : handle_(handle) {}
  void* handle_;
};

}  // namespace korbu::platform
