#pragma once
// Registry values by their exact names, through ntdll: the registry API's value
// calls take names as zero-terminated text, so a value whose name holds a zero
// unit (as a program may write with NtSetValueKey) could be listed but neither
// read, written nor deleted through them. Shared by the Win32 backend and the
// helper that reaches Wine's registry (src/winereg).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/win32/WindowsSupport.h"

namespace korbu::platform::win32 {

struct NtValue {
  std::u16string name;
  std::uint32_t type = 0;
  std::string data;
};

/// Each returns ERROR_SUCCESS or the Win32 error (ERROR_FILE_NOT_FOUND for a
/// value that does not exist). key is a key opened with the registry API.
LONG EnumNtValues(HKEY key, std::vector<NtValue>& values);
LONG QueryNtValue(HKEY key, std::u16string_view name, NtValue& value);
LONG SetNtValue(HKEY key, std::u16string_view name, std::uint32_t type, std::string_view data);
LONG DeleteNtValue(HKEY key, std::u16string_view name);

/// Deletes the key open as key (with DELETE access) when it holds no values and
/// no subkeys; ERROR_DIR_NOT_EMPTY otherwise.
LONG DeleteNtKeyIfEmpty(HKEY key);

/// A key path (units, '\' between components) as a zero-terminated wide text for
/// the registry API; empty when it holds a zero unit, which that text cannot carry.
std::optional<std::wstring> KeyPathText(std::u16string_view path);

}  // namespace korbu::platform::win32
