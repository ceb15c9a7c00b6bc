#pragma once
// The Windows registry of a Windows system (WindowsSystem.h), whose keys are
// opened, made, probed and removed through that system.
//
// A key is addressed by a predefined root key and a key path below it; values of
// a key are read, enumerated, written and deleted through an open RegistryKey.
// Every call reports failure with its reason and never throws. Nothing stays
// open between calls of the backend: each call reads the registry afresh, so a
// key may disappear between two calls on the same handle, and then the later
// call fails.
//
// Names: key paths use '\' between their components ("Software\Microsoft"); an
// empty key path is the root key itself. Key and value names compare without
// regard to letter case. The empty value name is the key's default value.
//
// Names are carried exactly: Windows keeps them as 16-bit units, and they come
// and go here as WTF-8 (Utf16Text.h), so any unit sequence a program can write,
// zero units and lone surrogates included, is read, named and written back
// unchanged. Data is the bytes the registry holds, whatever its type: string
// data (REG_SZ, REG_EXPAND_SZ, REG_MULTI_SZ) is UTF-16LE, with its terminating
// zero unit when it was stored with one, and may hold embedded zero units or an
// odd number of bytes. RegistryText and RegistryStringData are the one way
// between such data and the program's text.
//
// On Windows this is the wide registry API, with ntdll's value calls for names
// that hold a zero unit. On POSIX the registry is that of a Wine prefix (see
// wine/WinePrefixSystem.h) or of a mounted Windows installation (rescue/): HKEY_LOCAL_MACHINE is its system.reg, HKEY_CURRENT_USER
// its user.reg and HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes;
// other roots, and every root when there is no prefix, cannot be opened. While
// the prefix's wineserver runs it owns the registry files (they lag behind it,
// and it would overwrite them): then every call goes through a helper program
// of this project run by Wine in that prefix (wine/WineRegHelper.h), and a
// write counts only once it reads back.

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/Expected.h"

namespace korbu::platform {

/// A predefined root key, passed as its 32-bit handle value.
using RootKey = std::uint32_t;

inline constexpr RootKey kHkeyClassesRoot = 0x80000000;
inline constexpr RootKey kHkeyCurrentUser = 0x80000001;
inline constexpr RootKey kHkeyLocalMachine = 0x80000002;
inline constexpr RootKey kHkeyUsers = 0x80000003;
inline constexpr RootKey kHkeyPerformanceData = 0x80000004;
inline constexpr RootKey kHkeyCurrentConfig = 0x80000005;
inline constexpr RootKey kHkeyDynData = 0x80000006;

/// Registry value type numbers.
inline constexpr std::uint32_t kRegNone = 0;
inline constexpr std::uint32_t kRegSz = 1;
inline constexpr std::uint32_t kRegExpandSz = 2;
inline constexpr std::uint32_t kRegBinary = 3;
inline constexpr std::uint32_t kRegDword = 4;
inline constexpr std::uint32_t kRegDwordBigEndian = 5;
inline constexpr std::uint32_t kRegLink = 6;
inline constexpr std::uint32_t kRegMultiSz = 7;
inline constexpr std::uint32_t kRegQword = 11;

/// True for the types whose data is text (UTF-16LE units).
constexpr bool IsRegistryStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

/// One value of a key.
struct RegistryValue {
  std::string name;  // WTF-8; empty for the default value
  std::uint32_t type = kRegNone;
  std::string data;  // the bytes as the registry holds them
};

/// The text of string data: its units up to the first zero unit (where Windows'
/// readers of a REG_SZ stop, the shell running a Run value among them), as WTF-8.
/// An odd last byte is left out.
std::string RegistryText(std::string_view data);

/// Text as REG_SZ data: its UTF-16LE units and one zero unit.
std::string RegistryStringData(std::string_view text);

// A key or value that does not exist fails as an ErrorKind::NotFound: the
// registry answered. Any other error means the registry could not be asked or
// refused the call; a file the backend could not find is no missing key.

/// What an open key may be used for.
enum class KeyAccess {
  Read,       // enumerate and query values (KEY_READ)
  Write,      // set and delete values (KEY_WRITE)
  ReadWrite,  // both (KEY_ALL_ACCESS)
};

/// What can be told of a key without opening it for use.
enum class KeyState {
  Exists,
  Missing,      // the registry answered: there is no such key
  Unreachable,  // no registry to ask (no prefix, a root that never opens, Wine not answering)
};

/// An open registry key, opened through its system (WindowsSystem::OpenKey and
/// the like). Moves, never copies.
class RegistryKey {
 public:
  /// What a backend keeps of an open key, and its calls on it.
  struct State {
    virtual ~State() = default;
    KeyAccess access = KeyAccess::Read;
    virtual Expected<std::vector<RegistryValue>> Values() const = 0;
    virtual Expected<RegistryValue> Value(std::string_view name) const = 0;
    virtual Status Set(std::string_view name, std::uint32_t type, std::string_view data) = 0;
    virtual Status Delete(std::string_view name) = 0;
  };

  /// A key a backend opened, with the access it was opened for.
  explicit RegistryKey(std::unique_ptr<State> state);
  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  /// Every value of the key, in the registry's enumeration order (on Wine: the
  /// order of the file); an empty list when it holds none.
  Expected<std::vector<RegistryValue>> EnumValues() const;

  /// One value by name (empty name: the default value); ErrorKind::NotFound when it does
  /// not exist.
  Expected<RegistryValue> QueryValue(std::string_view name) const;

  /// Writes a value (empty name: the default value), replacing any value of that
  /// name whatever its type.
  Status SetValue(std::string_view name, std::uint32_t type, std::string_view data);

  /// Removes one value (empty name: the default value); the key and its other
  /// values stay. ErrorKind::NotFound when the value did not exist.
  Status DeleteValue(std::string_view name);

 private:
  std::unique_ptr<State> state_;
};

/// One value a RegistryBatch changed that did not take effect, and why.
struct RegistryWriteFailure {
  RootKey root = 0;
  std::string keyPath;
  std::string valueName;
  bool deletion = false;  // the value (or the key) was to be removed
  bool key = false;       // the change was the key's own: made, or removed when empty
  std::string system;     // the Wine prefix it belongs to (POSIX)
  std::string reason;
};

/// Groups the registry calls one task makes on its thread (a scan's reads of the
/// Run keys, a repair's writes, an undo), for a registry that is costly to reach:
/// Wine's while its server runs, where each reach is one Wine start. While a
/// batch lives, a key read once is served from that reading (and from the
/// batch's own changes), and writes and deletions are collected (they report
/// success when accepted) and made together by Commit, which reads them back:
/// one Wine start per prefix for the reads ahead (WindowsSystem::Prefetch) and
/// one for the commit. Without such a cost (Windows; Wine's files with no
/// server) every call acts at once and Commit has nothing left to do. Batches
/// nest: the innermost one serves, whichever systems its calls act on.
class RegistryBatch {
 public:
  /// A set stop flag ends a Wine start under way at once (its calls then fail).
  explicit RegistryBatch(const std::atomic<bool>* stop = nullptr);
  RegistryBatch(const RegistryBatch&) = delete;
  RegistryBatch& operator=(const RegistryBatch&) = delete;
  /// Collected changes that were not committed are dropped.
  ~RegistryBatch();

  /// True while collected changes wait for Commit.
  bool HasPending() const;

  /// Makes the collected changes and reads each back; the ones that did not take
  /// effect (all of them when the registry could not be reached), with the reason.
  std::vector<RegistryWriteFailure> Commit();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace korbu::platform
