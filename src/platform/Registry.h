#pragma once
// The Windows registry, as the ANSI registry API presents it.
//
// A key is addressed by a predefined root key and a key path below it; values of
// a key are read, enumerated, written and deleted through an open RegistryKey.
// Every call reports failure by its result (an empty optional or false) and never
// throws. Nothing stays open between calls of the backend: each call reads the
// registry afresh, so a key may disappear between two calls on the same handle,
// and then the later call fails.
//
// Names: key paths use '\' between their components ("Software\Microsoft"); an
// empty key path is the root key itself. Key and value names compare without
// regard to letter case. The empty value name is the key's default value.
//
// Texts: names and the data of the string types (REG_SZ, REG_EXPAND_SZ,
// REG_MULTI_SZ) are 8-bit text in the system's ANSI code page, as the "A" entry
// points of the Windows API take and give them. String data carries its
// terminating zero byte when it was stored with one (the caller passes it on
// writing, and gets it back on reading). Other types are raw bytes.
//
// On Windows this is a thin layer over RegOpenKeyExA, RegCreateKeyExA,
// RegEnumValueA, RegQueryValueExA, RegSetValueExA and RegDeleteValueA. On POSIX
// the registry is that of the Wine prefix (see posix/WinePrefix.h):
// HKEY_LOCAL_MACHINE is its system.reg, HKEY_CURRENT_USER its user.reg and
// HKEY_CLASSES_ROOT is HKEY_LOCAL_MACHINE\Software\Classes; other roots, and every
// root when there is no prefix, cannot be opened. The ANSI code page there is
// Windows-1252. While the prefix's wineserver runs it owns the registry files
// (they lag behind it, and it would overwrite them): then every call goes through
// Wine's own reg tool in that prefix, and a write counts only once it reads back.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

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

/// True for the types whose data is text (converted to and from the ANSI code page).
constexpr bool IsRegistryStringType(std::uint32_t type) {
  return type == kRegSz || type == kRegExpandSz || type == kRegMultiSz;
}

/// One value of a key.
struct RegistryValue {
  std::string name;              // empty for the default value
  std::uint32_t type = kRegNone;
  std::string data;              // the data bytes (see the notes on texts above)
};

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

/// An open registry key. Moves, never copies.
class RegistryKey {
 public:
  /// Opens an existing key (nothing is created). Empty when the root cannot be
  /// opened, the key does not exist or the key path is malformed (an empty
  /// component, as in "a\\b").
  static std::optional<RegistryKey> Open(RootKey root, std::string_view keyPath,
                                         KeyAccess access);

  /// Opens a key for reading and writing, creating it and any missing keys above
  /// it first. Empty when the root cannot be opened, the path is malformed or a
  /// missing key could not be created (for instance while Wine's server runs).
  static std::optional<RegistryKey> Create(RootKey root, std::string_view keyPath);

  /// Whether the key exists, telling a missing key from a registry that cannot
  /// be asked: a value that cannot be read is gone only in the first case.
  static KeyState Probe(RootKey root, std::string_view keyPath);

  RegistryKey(RegistryKey&& other) noexcept;
  RegistryKey& operator=(RegistryKey&& other) noexcept;
  RegistryKey(const RegistryKey&) = delete;
  RegistryKey& operator=(const RegistryKey&) = delete;
  ~RegistryKey();

  /// Every value of the key, in the registry's enumeration order (on Wine: the
  /// order of the file). Empty (no optional) when the key cannot be read; an
  /// empty list when it holds no values.
  std::optional<std::vector<RegistryValue>> EnumValues() const;

  /// One value by name (empty name: the default value); empty when it does not
  /// exist or the key cannot be read.
  std::optional<RegistryValue> QueryValue(std::string_view name) const;

  /// Writes a value (empty name: the default value), replacing any value of that
  /// name whatever its type. False when nothing was written.
  bool SetValue(std::string_view name, std::uint32_t type, std::string_view data);

  /// Removes one value (empty name: the default value); the key and its other
  /// values stay. False when the value did not exist or could not be removed.
  bool DeleteValue(std::string_view name);

  /// The backend's state of an open key (defined by the backend).
  struct State;

 private:
  explicit RegistryKey(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

/// One value a RegistryBatch changed that did not read back as written.
struct RegistryWriteFailure {
  RootKey root = 0;
  std::string keyPath;
  std::string valueName;
  bool deletion = false;  // the value was to be removed
};

/// Groups the registry calls one task makes on its thread (a scan's reads of the
/// Run keys, a repair's writes), for a registry that is costly to reach: Wine's
/// while its server runs, where each reach is one Wine start. While a batch
/// lives, a key read once is served from that reading (and from the batch's own
/// changes), and writes and deletions are collected (they report success when
/// accepted) and made together by Commit, which reads them back. Without such a
/// cost (Windows; Wine's files with no server) every call acts at once and
/// Commit has nothing left to do. Batches nest: the innermost one serves (a
/// repair run while a scan lets pending messages run has its own).
class RegistryBatch {
 public:
  RegistryBatch();
  RegistryBatch(const RegistryBatch&) = delete;
  RegistryBatch& operator=(const RegistryBatch&) = delete;
  /// Collected changes that were not committed are dropped.
  ~RegistryBatch();

  /// Reads these keys ahead, all in one reach.
  void Prefetch(const std::vector<std::pair<RootKey, std::string>>& keys);

  /// Makes the collected changes and reads each back; the ones that did not take
  /// effect (all of them when the registry could not be reached).
  std::vector<RegistryWriteFailure> Commit();

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace korbu::platform
