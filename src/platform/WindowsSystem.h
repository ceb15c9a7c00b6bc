#pragma once
// A Windows system the scanner looks after, as one object: its registry, its
// folders and its current directory as a Windows program sees them, the native
// path behind any Windows path, its users, whether it may be changed, and the
// identity its journal records name. On Windows the running system is one; on
// POSIX a Wine prefix (wine/) and a Windows installation whose volume is mounted
// here (rescue/) are the others. Each comes from OpenWindowsSystem
// (SystemFactory.h); nothing is ever taken from another system in its place.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "platform/OpenedFile.h"
#include "platform/Registry.h"

namespace korbu::platform {

/// Shell folder identifiers (CSIDL values) the program asks for.
inline constexpr int kCsidlLocalAppData = 28;
inline constexpr int kCsidlMyPictures = 39;

/// Which system: the plain record detection rows and journal records carry, and
/// the factory opens.
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
  /// volume where it names one, else its Wine prefix, else Default (a row of the
  /// system its scan ran on, whichever that was: see ResolveSystem).
  static WindowsSystemRef Named(std::string_view prefix, std::string_view volume = {}) {
    if (!volume.empty()) return Volume(std::string(volume));
    if (!prefix.empty()) return Prefix(std::string(prefix));
    return {};
  }

  /// The prefix folder, for a record's prefix field; empty for another kind.
  std::string PrefixFolder() const { return kind == Kind::WinePrefix ? root : std::string(); }
  /// The volume's mount folder, for a record's volume field; empty for another kind.
  std::string VolumeFolder() const { return kind == Kind::WindowsVolume ? root : std::string(); }

  bool operator==(const WindowsSystemRef&) const = default;
};

/// Registry keys as (root key, key path).
using RegistryKeyList = std::vector<std::pair<std::uint32_t, std::string>>;

class WindowsSystem {
 public:
  virtual ~WindowsSystem() = default;

  /// What a record of a change made here names, so that undoing it acts on this
  /// same system whatever the environment says then: a prefix by its folder, a
  /// volume by its mount folder (and user), the running Windows as Default.
  virtual WindowsSystemRef Identity() const = 0;

  /// True when the record names this system (a prefix through whatever links
  /// lead to its folder).
  virtual bool Is(const WindowsSystemRef& other) const = 0;

  // --- Its registry (Registry.h) ---

  /// Opens an existing key (nothing is created). Fails (ErrorKind::NotFound) when the key
  /// does not exist, and with the reason when the root cannot be opened, the key
  /// path is malformed (an empty component, as in "a\\b", or a zero byte) or the
  /// registry cannot be reached.
  virtual Expected<RegistryKey> OpenKey(RootKey root, std::string_view keyPath, KeyAccess access) const = 0;

  /// Opens a key for reading and writing, creating it and any missing keys above
  /// it first.
  virtual Expected<RegistryKey> CreateKey(RootKey root, std::string_view keyPath) const = 0;

  /// Whether the key exists, telling a missing key from a registry that cannot
  /// be asked: a value that cannot be read is gone only in the first case.
  virtual KeyState ProbeKey(RootKey root, std::string_view keyPath) const = 0;

  /// Removes a key that holds no values and no subkeys. Fails (ErrorKind::NotFound) when
  /// there is no such key, and with the reason when it is not empty.
  virtual Status DeleteEmptyKey(RootKey root, std::string_view keyPath) const = 0;

  /// Reads these keys ahead into the thread's RegistryBatch, all in one reach.
  /// Fails with the reason when the registry cannot be reached; later calls of
  /// the batch on this system then fail at once with the same reason. Nothing to
  /// do without a batch or where a reach costs nothing.
  virtual Status Prefetch(const RegistryKeyList& keys) const = 0;

  // --- Its folders ---

  /// The Windows folder as a Windows path ("C:\windows"); empty without a system.
  virtual std::string WindowsDirectoryPath() const = 0;

  /// The system folder as a Windows path ("C:\windows\system32"); empty without one.
  virtual std::string SystemDirectoryPath() const = 0;

  /// The current directory a Windows program of this system starts in, as a
  /// Windows path with no trailing backslash; empty without a system.
  virtual std::string CurrentDirectoryPath() const = 0;

  /// The native path of a Windows path: absolute ("C:\dir\x.exe"), rooted on the
  /// current drive ("\dir") or relative to CurrentDirectoryPath(). Both '\' and
  /// '/' separate components, "." and ".." are resolved without leaving the
  /// drive, and each existing component is matched as the system does (the exact
  /// name first, else the first entry equal to it ignoring ASCII case);
  /// components from the first missing one on are kept as given, so a missing
  /// file still has a native path. A final component that is a symbolic link is
  /// not resolved. Empty when the path cannot be mapped: no system, an unknown
  /// drive, a network path, a zero byte in the path, or (on a system another
  /// user controls) a link on the way that leads out of the system.
  virtual std::string NativePath(std::string_view windowsPath) const = 0;

  /// A file of the system, at a native path NativePath gave, opened for judging
  /// (OpenedFile::Open). On a system another user controls the open itself is
  /// made inside the drive the path lies on, so that no link swapped in after
  /// NativePath looked leads it out; a path on no drive of the system is refused.
  virtual OpenedFile OpenFile(const std::string& nativePath) const;

  /// The native path of a Windows folder, fully resolved; empty unless it maps to
  /// an existing directory.
  virtual std::string NativeFolder(std::string_view windowsPath) const = 0;

  /// The Windows path of a shell special folder of the system's user (see the
  /// kCsidl constants); empty when it is unknown.
  virtual std::string SpecialFolderWindowsPath(int csidl) const = 0;

  /// The native path of a shell special folder of the system's user; empty when
  /// the folder is unknown or does not exist.
  std::string SpecialFolderPath(int csidl) const;

  /// A Windows folder held open for changes inside it: the drive's root as
  /// NativeFolder finds it, then each component matched as NativePath matches it
  /// and opened without following a link, so a folder on the way that is (or
  /// becomes) a link is refused rather than followed. Empty when a component is
  /// missing or a link, and without a system.
  virtual std::optional<Folder> OpenSystemFolder(std::string_view windowsPath) const = 0;

  /// A shell special folder of the system's user held open as OpenSystemFolder
  /// holds a folder. In a Wine prefix the special folder itself may be the link
  /// Wine makes to the user's own folder ("Pictures" to ~/Pictures): it is then
  /// held at its target when that lies inside the home folder; a link anywhere
  /// else is refused.
  virtual std::optional<Folder> OpenSpecialFolder(int csidl) const = 0;

  /// The registry keys the special folders are read from, so that a task
  /// reaching a costly registry can read them ahead with its own; none where the
  /// shell tells them (Windows).
  virtual RegistryKeyList SpecialFolderRegistryKeys() const = 0;

  /// The text with every %NAME% whose variable is known replaced by its value,
  /// as a Windows program of this system sees its environment; names ignore
  /// letter case, unknown ones and a lone '%' stay as they are. On POSIX the
  /// variables are the system environment key's, then the user's (which win),
  /// over Windows' own defaults for SystemRoot, windir, SystemDrive,
  /// ProgramFiles, USERPROFILE, APPDATA, LOCALAPPDATA, TEMP and the like.
  /// Without a system nothing is replaced.
  virtual std::string ExpandEnvironment(std::string_view text) const = 0;

  /// The registry keys the variables are read from, for reading ahead; none
  /// where the system tells them (Windows).
  virtual RegistryKeyList EnvironmentRegistryKeys() const = 0;

  // --- Its users ---

  /// The users whose settings are kept apart, by their keys below HKEY_USERS (a
  /// mounted Windows installation's); empty where HKEY_CURRENT_USER is the one
  /// user there is (Windows, a Wine prefix). Each is reached as
  /// OpenWindowsSystem(WindowsSystemRef::Volume(root, user)).
  virtual std::vector<std::string> Users() const = 0;

  /// The native profile folders of Users(), those that exist.
  virtual std::vector<std::string> UserFolders() const = 0;

  // --- Its state ---

  /// Whether the system is there at all: for a Windows volume, the reason no
  /// installation is found at its folder; for a Wine prefix, that there is none
  /// (no registry, no drive C:); Ok for the running Windows.
  virtual Status Found() const = 0;

  /// Whether the system may be changed without losing data: for a Windows
  /// volume, fails with every reason at once when it is mounted read-only,
  /// Windows is hibernated (or shut down with fast start-up), or hives are
  /// damaged or dirty with no log that replays (each named); Ok for the others,
  /// whose writes fail one by one if at all.
  virtual Status Writable() const = 0;

  /// What the user should know of how the system is read: for a Windows volume,
  /// each hive recovered from its transaction logs; none for the others.
  virtual std::vector<std::string> Notes() const = 0;
};

/// The name under which an entry of a held folder of a Windows system exists,
/// matched as NativePath matches it; the name as given when there is none.
std::string SystemEntryName(const Folder& folder, const std::string& name);

}  // namespace korbu::platform
