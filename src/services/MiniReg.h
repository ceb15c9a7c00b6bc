#pragma once
// Registry values addressed by a root key and one text, the value path: the key
// path, a backslash, the value name. The path is split at its last backslash:
// "Software\Run\Name" is value "Name" of key "Software\Run"; a path ending in a
// backslash names the key's default value; a path whose only backslash is its
// first character names a value of the root key itself; a path without any
// backslash is refused at once and the registry is not touched.
//
// Every operation opens and closes its key within the call, reports failure only
// by its result (true or false; the Set and Remove forms give the reason) and
// keeps no state, so it may run on any thread. Each acts on the registry of the
// system it is given. Texts are UTF-8 and stored as the registry's wide strings
// (Registry.h); names travel exactly.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Registry.h"
#include "platform/WindowsSystem.h"

namespace korbu {

using platform::RootKey;

/// 1-based position of the last occurrence of c in text; 0 when it does not occur.
std::size_t LastCharPos(char c, std::string_view text);

/// A value path taken apart.
struct ValuePath {
  std::string_view keyPath;
  std::string_view valueName;
};

/// The one splitting of value paths: at the last backslash. Empty for a path
/// without one. A value whose name holds a backslash cannot be named this way;
/// callers that know the name pass key path and name apart instead.
std::optional<ValuePath> SplitValuePath(std::string_view path);

/// Writes a value of any type, creating its key (and missing keys above it) when
/// needed and replacing a value of the same name whatever its type. data may be
/// null only when size is 0.
bool WriteRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t type, const void* data,
                   std::size_t size);

/// Reads a value that exists with exactly the expected type into block (its size is
/// the data size). block is cleared on every failure. No key is created.
bool ReadRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t expectedType,
                  std::vector<unsigned char>& block);

/// Writes a REG_SZ value: the text as UTF-16LE units followed by one zero unit.
bool WriteRegString(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::string_view text);

/// Writes a REG_DWORD value: 4 bytes, least significant first.
bool WriteRegDWord(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t value);

/// Reads a REG_SZ value as text, up to its terminating (or first) zero unit;
/// data stored without one is returned whole. text is empty whenever the result
/// is false.
bool ReadRegString(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::string& text);

/// Removes one value (the default value for a path ending in a backslash); the key
/// and its other values stay. False when the value did not exist.
bool DeleteRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath);

/// DeleteRegValue of a value named apart from its key: any name, backslashes too.
bool DeleteRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view keyPath, std::string_view valueName);

/// WriteRegValue, WriteRegString, WriteRegDWord and DeleteRegValue (of a value
/// named apart from its key) with the reason of a failure: what the repair uses.
Status SetRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t type, std::string_view data);
Status SetRegString(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::string_view text);
Status SetRegDWord(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t value);
Status RemoveRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view keyPath, std::string_view valueName);

}  // namespace korbu
