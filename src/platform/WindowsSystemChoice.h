#pragma once
// Which Windows system the platform's registry, Windows folder and special
// folders act on. By default it is the system the program runs with: on Windows
// the running one, on POSIX the Wine prefix WINEPREFIX names (else ~/.wine). A
// repair of a worm that runs in another prefix acts on that prefix instead, for
// the calls of one thread while a ScopedWindowsSystem lives.
//
// Each kind of system is one backend of the same interfaces (Registry.h,
// WindowsSystem.h): a Wine prefix is the POSIX backend's. A Windows volume
// mounted on Linux (rescue mode) would be a third kind, with its hives read
// through libhivex, chosen the same way.

#include <string>

namespace korbu::platform {

struct WindowsSystemRef {
  enum class Kind {
    Default,     // the system the program runs with
    WinePrefix,  // the prefix folder in root
  };
  Kind kind = Kind::Default;
  std::string root;

  static WindowsSystemRef Prefix(std::string folder) { return {Kind::WinePrefix, std::move(folder)}; }
  bool operator==(const WindowsSystemRef&) const = default;
};

/// The system the calls of this thread act on.
const WindowsSystemRef& CurrentWindowsSystem();

/// The folder of the Wine prefix the calls of this thread act on now (POSIX);
/// empty on Windows and where there is no prefix. What a record of a change
/// keeps, so that undoing it acts on the same prefix whatever WINEPREFIX says then.
std::string ChosenWinePrefix();

/// True when two folders are the same Wine prefix, whatever links lead to it
/// (false on Windows, where there are none).
bool SamePrefixFolder(const std::string& a, const std::string& b);

/// Makes the calls of this thread act on another system while it lives; nests.
class ScopedWindowsSystem {
 public:
  explicit ScopedWindowsSystem(WindowsSystemRef system);
  ~ScopedWindowsSystem();
  ScopedWindowsSystem(const ScopedWindowsSystem&) = delete;
  ScopedWindowsSystem& operator=(const ScopedWindowsSystem&) = delete;

 private:
  WindowsSystemRef previous_;
};

}  // namespace korbu::platform
