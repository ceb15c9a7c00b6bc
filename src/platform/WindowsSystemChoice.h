#pragma once
// Which Windows system the platform's registry, Windows folder and special
// folders act on. By default it is the system the program runs with: on Windows
// the running one, on POSIX the Wine prefix WINEPREFIX names (else ~/.wine). A
// repair of a worm that runs in another prefix acts on that prefix instead, for
// the calls of one thread while a ScopedWindowsSystem lives.
//
// Each kind of system is one backend of the same interfaces (Registry.h,
// WindowsSystem.h): a Wine prefix is the POSIX backend's, a Windows installation
// whose system volume is mounted on Linux (rescue mode) the rescue backend's,
// its hives read and written through libhivex.

#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"

namespace korbu::platform {

struct WindowsSystemRef {
  enum class Kind {
    Default,        // the system the program runs with
    WinePrefix,     // the prefix folder in root
    WindowsVolume,  // the Windows installation on the volume mounted at root (POSIX)
  };
  Kind kind = Kind::Default;
  std::string root;
  /// WindowsVolume: the user HKEY_CURRENT_USER and the special folders are of (a
  /// key below HKEY_USERS); empty for none.
  std::string user;

  static WindowsSystemRef Prefix(std::string folder) { return {Kind::WinePrefix, std::move(folder), {}}; }
  static WindowsSystemRef Volume(std::string root, std::string user = {}) {
    return {Kind::WindowsVolume, std::move(root), std::move(user)};
  }
  /// The system a detection row or a journal record names: the mounted Windows
  /// volume where it names one, else its Wine prefix, else the one the calls of
  /// this thread act on now (what a row of the running Windows or of a rescued
  /// volume stands for: it names neither).
  static WindowsSystemRef Named(std::string_view prefix, std::string_view volume = {});
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

/// The users of the chosen system whose settings are kept apart, by their keys
/// below HKEY_USERS (a mounted Windows installation's); empty where
/// HKEY_CURRENT_USER is the one user there is (Windows, a Wine prefix).
std::vector<std::string> SystemUsers();

/// The Windows volume the calls of this thread act on (its mount folder); empty
/// for any other system. What a record of a change keeps, as for a prefix.
std::string ChosenWindowsVolume();

/// The native profile folders of SystemUsers(), those that exist.
std::vector<std::string> SystemUserFolders();

/// Whether the chosen system is there at all: for a Windows volume, the reason
/// no installation is found at its folder; for a Wine prefix, that there is none
/// (no registry, no drive C:); Ok for the running Windows.
Status ChosenSystemFound();

/// Whether the chosen system may be changed without losing data: for a Windows
/// volume, fails with every reason at once when it is mounted read-only, Windows
/// is hibernated (or shut down with fast start-up), or hives are damaged or
/// dirty with no log that replays (each named);
/// Ok for the others, whose writes fail one by one if at all.
Status ChosenSystemWritable();

/// What the user should know of how the chosen system is read: for a Windows
/// volume, each hive recovered from its transaction logs; none for the others.
std::vector<std::string> ChosenSystemNotes();

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
