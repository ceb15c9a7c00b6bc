#pragma once
// Registry hives for tests, made and read back through libhivex's own API, so the
// program's hive layer is checked against an independent reader and writer.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/Expected.h"

namespace korbu::test {

/// A value placed in the root key of a new hive, its name given as UTF-16 units
/// (libhivex cannot write every name Windows can). Data of at most 4 bytes.
struct RawRootValue {
  std::u16string name;
  std::uint32_t type = 0;
  std::string data;
};

/// Writes a new, empty, valid hive (libhivex makes none from nothing), with the
/// given values in its root key. The sequence numbers differ when dirty.
void WriteEmptyHive(const std::string& path, const std::vector<RawRootValue>& rootValues = {}, bool dirty = false);

struct HiveData {
  std::uint32_t type = 0;
  std::string data;
  bool operator==(const HiveData&) const = default;
};

/// Makes a hive dirty as a crash leaves it: the primary sequence number one
/// ahead of the secondary, the header's checksum right.
void MarkHiveDirty(const std::string& path);

/// The error code of a failed result, 0 for a success.
template <typename Result>
int ErrorCode(const Result& result) {
  return result ? 0 : result.error().code;
}

/// The kind of a failed result; none for a success.
template <typename Result>
std::optional<ErrorKind> KindOf(const Result& result) {
  if (result) return std::nullopt;
  return result.error().kind;
}

/// A hive opened for changes through libhivex; changes are written by Commit.
class HiveEdit {
 public:
  explicit HiveEdit(const std::string& path);
  ~HiveEdit();
  HiveEdit(const HiveEdit&) = delete;
  HiveEdit& operator=(const HiveEdit&) = delete;

  /// Sets a value, creating the keys on the way ('\' between them).
  HiveEdit& Set(const std::string& keyPath, const std::string& name, std::uint32_t type, const std::string& data);
  HiveEdit& SetString(const std::string& keyPath, const std::string& name, const std::string& text);
  HiveEdit& SetDword(const std::string& keyPath, const std::string& name, std::uint32_t value);
  void Commit();

 private:
  std::string path_;
  void* hive_;
};

/// A value read back through libhivex; empty when the key or the value is missing.
std::optional<HiveData> ReadHiveValue(const std::string& path, const std::string& keyPath, const std::string& name);

/// The names of a key's values; empty when the key is missing.
std::vector<std::string> HiveValueNames(const std::string& path, const std::string& keyPath);

/// REG_SZ data: the ASCII text as UTF-16LE with its terminating zero unit.
std::string StringData(const std::string& text);
/// REG_DWORD data.
std::string DwordData(std::uint32_t value);

}  // namespace korbu::test
