#pragma once
// Wine's registry reached through Wine itself, for the time its wineserver runs
// and owns the registry (the files then lag behind and would be overwritten).
//
// One call of RunRegTool is one Wine process: `wine cmd /c` of a small batch
// file that imports one .reg file holding every change and then exports each
// key asked for, so a scan's reads or a repair's writes and their read-back cost
// one Wine start, not one per value. Changes travel as binary data
// ("name"=hex(N):...) so no data is ever subject to the text escapes of the
// .reg format; deletions are "name"=-.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/posix/WineRegistryValue.h"

namespace korbu::platform::posix {

/// One change for an import: a value set (value given), a value deleted (name
/// given, no value) or only the key made (neither).
struct WineRegChange {
  std::u16string keyName;  // full name, "HKEY_CURRENT_USER\Software\x"
  std::optional<std::u16string> deletedName;
  std::optional<WineValue> value;
};

/// The keys' values as exported, in the order asked; an empty entry for a key
/// that does not exist.
using WineRegExports = std::vector<std::optional<std::vector<WineValue>>>;

/// True when a key name can be written on the batch file's command line and in a
/// .reg section header: printable ASCII without the characters cmd or the
/// header would read as syntax (" % ^ [ ]), no empty component.
bool IsPortableKeyName(std::u16string_view keyName);

/// The .reg text (UTF-16LE with its byte-order mark) that makes the changes in
/// order; empty when a key name is not portable or a value name holds a line
/// break or zero unit (no .reg line could carry it).
std::optional<std::string> FormatRegImport(const std::vector<WineRegChange>& changes);

/// The values of one key in the bytes of a file `reg export` wrote (UTF-16LE);
/// empty when the file is no export or has no section of that key.
std::optional<std::vector<WineValue>> ParseRegExport(std::string_view bytes, std::u16string_view keyName);

/// Runs Wine's tools once in the prefix (the loader WINE names, else `wine`): imports importText when given, then
/// exports each key. Empty when Wine could not be run to the end (not installed,
/// a key name that is not portable, no time left after two minutes).
std::optional<WineRegExports> RunRegTool(const std::string& prefix, const std::optional<std::string>& importText,
                                         const std::vector<std::u16string>& keyNames);

}  // namespace korbu::platform::posix
