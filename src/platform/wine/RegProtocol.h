#pragma once
// What this program and its Wine registry helper (korbu-winereg.exe, run by Wine
// in a prefix whose wineserver runs) say to each other. One run of the helper is
// one request and one reply, both ASCII lines: every name, key path and data
// travels as hexadecimal bytes (UTF-16LE units for names and key paths), so no
// byte of it is ever read as syntax and nothing in a name can make a value seem
// to stand under another key.
//
// Request: the line "KORBU-REG 1", one line per operation, the line ".".
//   R root key               read every value of a key
//   S root key name type data  set a value, the key made first when missing
//   D root key name          delete a value
//   C root key               make a key (and the keys above it)
//   X root key               delete a key that holds no values and no subkeys
// Reply: "KORBU-REG 1", one result per operation in order, ".":
//   OK | NF (no such key or value) | NE (key not empty) | ER code (Win32 error)
//   and for R when it succeeds: "K count" followed by count lines "V name type data".
// root and type are hexadecimal numbers; an empty field is written "-".

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/Expected.h"
#include "platform/wine/WineRegistryValue.h"

namespace korbu::winereg {

using platform::wine::WineValue;

inline constexpr std::string_view kProtocolLine = "KORBU-REG 1";

struct Operation {
  enum class Kind { Read, Set, Delete, CreateKey, DeleteEmptyKey };
  Kind kind = Kind::Read;
  std::uint32_t root = 0;  // HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER
  std::u16string key;      // below the root, '\' between its components
  std::u16string name;     // Set, Delete
  std::uint32_t type = 0;  // Set
  std::string data;        // Set
};

struct Result {
  enum class Outcome { Done, NotFound, NotEmpty, Failed };
  Outcome outcome = Outcome::Failed;
  std::uint32_t code = 0;        // Failed: the Win32 error
  std::vector<WineValue> values;  // Read, Done: the key's values in enumeration order
};

std::string FormatRequest(const std::vector<Operation>& operations);

/// The operations of a request; the reason when it is malformed.
Expected<std::vector<Operation>> ParseRequest(std::string_view request);

std::string FormatReply(const std::vector<Result>& results);

/// The results of a reply to these operations, one each, in order; the reason
/// when the reply is malformed, cut short or answers other operations. Lines
/// before the first protocol line (anything Wine itself printed) are passed over.
Expected<std::vector<Result>> ParseReply(std::string_view reply, const std::vector<Operation>& operations);

}  // namespace korbu::winereg
