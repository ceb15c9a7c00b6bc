#pragma once
// A registry hive file of a Windows installation mounted on this system, read as
// Windows loads it (HiveFile.h: a copy of the program's own, recovered from its
// transaction logs when dirty). Keys are read, made and removed through libhivex;
// values are changed cell by cell (HiveCells.h), so that every other value keeps
// its bytes. Names come and go as WTF-8, exactly as the hive holds them (a worm
// may give a value a name no UTF-8 can spell); data is the bytes the hive holds,
// whatever the type. Changes stay in memory until Commit, which writes the whole
// hive to a new file beside it, reads that back and checks it against what was
// meant, and only then renames it over the hive: a crash leaves the old hive or
// the new one, never a mix, and nothing that does not read back replaces it.
//
// Key paths use '\' between components and are relative to the hive's root (the
// empty path is the root); names compare ignoring ASCII letter case. A missing
// key or value fails as an ErrorKind::NotFound.

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "platform/FolderHandle.h"
#include "platform/rescue/HiveLogs.h"

namespace korbu::platform::rescue {

struct HiveValue {
  std::string name;  // WTF-8; empty for the default value
  std::uint32_t type = 0;
  std::string data;
};

class Hive {
 public:
  enum class Access { Read, Write };

  /// Opens the hive file `name` of a held folder, never through a link. With
  /// Write the changes are kept until Commit; a damaged hive, or a dirty one
  /// whose logs do not apply, is refused for writing with the reason.
  static Expected<Hive> Open(const Folder& folder, const std::string& name, Access access);

  Hive(Hive&& other) noexcept;
  Hive& operator=(Hive&& other) noexcept;
  Hive(const Hive&) = delete;
  Hive& operator=(const Hive&) = delete;
  ~Hive();

  /// The path of the hive file, for messages.
  const std::string& Path() const;
  /// Which transaction logs were replayed when it was read (none when clean).
  const HiveReplay& Replay() const;

  /// The names of a key's subkeys, in the hive's order.
  Expected<std::vector<std::string>> Subkeys(std::string_view keyPath) const;
  /// Every value of a key, in the hive's order.
  Expected<std::vector<HiveValue>> Values(std::string_view keyPath) const;
  /// One value of a key by name (empty: the default value).
  Expected<HiveValue> Value(std::string_view keyPath, std::string_view name) const;

  /// Sets a value (replacing one of that name whatever its type), creating the
  /// key and the keys above it when missing (a key name must be one libhivex
  /// writes exactly). Setting a value to what it holds changes nothing.
  Status SetValue(std::string_view keyPath, const HiveValue& value);
  /// Makes a key and the keys above it where missing (nothing when it exists).
  Status CreateKey(std::string_view keyPath);
  /// Removes one value; the key and its other values stay.
  Status DeleteValue(std::string_view keyPath, std::string_view name);
  /// Removes a key that holds no values and no subkeys.
  Status DeleteEmptyKey(std::string_view keyPath);

  /// True when changes wait for Commit.
  bool Changed() const;
  /// Writes the changes (nothing to do without any): the whole hive, both
  /// sequence numbers equal, to a new file in the hive's folder, forced to the
  /// disk, read back and compared key by key and value by value with the hive as
  /// read plus the changes, then renamed over the hive. Refused when the hive file
  /// was replaced since it was opened, or the new file does not read back.
  Status Commit();

  struct State;

 private:
  explicit Hive(std::unique_ptr<State> state);
  std::unique_ptr<State> state_;
};

}  // namespace korbu::platform::rescue
