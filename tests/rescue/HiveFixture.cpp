#include "rescue/HiveFixture.h"

#include <gtest/gtest.h>
#include <hivex.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <stdexcept>

#include "support/TempTree.h"

namespace korbu::test {
namespace {

// A base block of 4 KiB, then one bin of 4 KiB holding the root key, its
// security record, the optional root values and a free cell for the rest.
constexpr std::size_t kBlock = 0x1000;

void Put16(std::string& b, std::size_t at, std::uint32_t v) {
  b[at] = static_cast<char>(v & 0xFF);
  b[at + 1] = static_cast<char>((v >> 8) & 0xFF);
}
void Put32(std::string& b, std::size_t at, std::uint32_t v) {
  Put16(b, at, v & 0xFFFF);
  Put16(b, at + 2, v >> 16);
}
std::uint32_t Get32(const std::string& b, std::size_t at) {
  auto byte = [&](std::size_t k) { return static_cast<std::uint32_t>(static_cast<unsigned char>(b[at + k])); };
  return byte(0) | (byte(1) << 8) | (byte(2) << 16) | (byte(3) << 24);
}

// Appends a used cell of at least `bytes` (size included), 8-aligned; its offset
// relative to the bin data start (the hive's own offsets).
std::size_t AddCell(std::string& bin, std::size_t bytes) {
  const std::size_t size = (bytes + 7) & ~std::size_t{7};
  const std::size_t at = bin.size();
  bin.resize(at + size, '\0');
  Put32(bin, at, static_cast<std::uint32_t>(-static_cast<std::int32_t>(size)));
  return at;
}

// The base block's checksum: the XOR of its first 127 double words.
void SetChecksum(std::string& base) {
  std::uint32_t sum = 0;
  for (std::size_t i = 0; i < 0x1FC; i += 4) sum ^= Get32(base, i);
  Put32(base, 0x1FC, sum);
}

struct HiveCloser {
  void operator()(hive_h* h) const { hivex_close(h); }
};
using HivePtr = std::unique_ptr<hive_h, HiveCloser>;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what + ": " + std::strerror(errno));
}

hive_node_h FindKey(hive_h* h, const std::string& keyPath, bool create) {
  hive_node_h node = hivex_root(h);
  std::size_t start = 0;
  while (node != 0 && start < keyPath.size()) {
    std::size_t end = keyPath.find('\\', start);
    if (end == std::string::npos) end = keyPath.size();
    const std::string part = keyPath.substr(start, end - start);
    hive_node_h child = hivex_node_get_child(h, node, part.c_str());
    if (child == 0 && create) child = hivex_node_add_child(h, node, part.c_str());
    node = child;
    start = end + 1;
  }
  return node;
}

}  // namespace

void WriteEmptyHive(const std::string& path, const std::vector<RawRootValue>& rootValues, bool dirty) {
  std::string bin(0x20, '\0');  // the bin header, filled in below
  const std::size_t root = AddCell(bin, 4 + 0x4C + 4);
  const std::size_t sk = AddCell(bin, 4 + 0x14 + 20);
  std::size_t valueList = 0xFFFFFFFF;
  if (!rootValues.empty()) {
    valueList = AddCell(bin, 4 + 4 * rootValues.size());
    for (std::size_t i = 0; i < rootValues.size(); ++i) {
      const RawRootValue& value = rootValues[i];
      const std::size_t nameBytes = value.name.size() * 2;
      const std::size_t vk = AddCell(bin, 4 + 0x14 + nameBytes);
      Put32(bin, valueList + 4 + 4 * i, static_cast<std::uint32_t>(vk));
      bin[vk + 4] = 'v';
      bin[vk + 5] = 'k';
      Put16(bin, vk + 6, static_cast<std::uint32_t>(nameBytes));
      Put32(bin, vk + 8, 0x80000000u | static_cast<std::uint32_t>(value.data.size()));
      std::memcpy(&bin[vk + 12], value.data.data(), std::min<std::size_t>(value.data.size(), 4));
      Put32(bin, vk + 16, value.type);
      Put16(bin, vk + 20, 0);  // a UTF-16 name
      for (std::size_t k = 0; k < value.name.size(); ++k) Put16(bin, vk + 24 + 2 * k, value.name[k]);
    }
  }
  // The root key.
  bin[root + 4] = 'n';
  bin[root + 5] = 'k';
  Put16(bin, root + 6, 0x2C);  // hive entry, not deletable, compressed name
  Put32(bin, root + 0x14, 0xFFFFFFFF);  // parent: none
  Put32(bin, root + 0x20, 0xFFFFFFFF);  // subkey lists
  Put32(bin, root + 0x24, 0xFFFFFFFF);
  Put32(bin, root + 0x28, static_cast<std::uint32_t>(rootValues.size()));
  Put32(bin, root + 0x2C, static_cast<std::uint32_t>(valueList));
  Put32(bin, root + 0x30, static_cast<std::uint32_t>(sk));
  Put32(bin, root + 0x34, 0xFFFFFFFF);  // no class name
  Put16(bin, root + 0x4C, 4);
  std::memcpy(&bin[root + 0x50], "ROOT", 4);
  // Its security record: a list of one, a descriptor with no owner and no lists.
  bin[sk + 4] = 's';
  bin[sk + 5] = 'k';
  Put32(bin, sk + 8, static_cast<std::uint32_t>(sk));
  Put32(bin, sk + 12, static_cast<std::uint32_t>(sk));
  Put32(bin, sk + 16, 1);
  Put32(bin, sk + 20, 20);
  bin[sk + 24] = 1;
  Put16(bin, sk + 26, 0x8004);
  // The rest of the bin is one free cell.
  if (bin.size() > kBlock - 8) throw std::runtime_error("too many root values for one bin");
  const std::size_t freeAt = bin.size();
  bin.resize(kBlock, '\0');
  Put32(bin, freeAt, static_cast<std::uint32_t>(kBlock - freeAt));
  std::memcpy(&bin[0], "hbin", 4);
  Put32(bin, 8, kBlock);

  std::string base(kBlock, '\0');
  std::memcpy(&base[0], "regf", 4);
  Put32(base, 4, 1);
  Put32(base, 8, dirty ? 2 : 1);
  Put32(base, 0x14, 1);  // version 1.5
  Put32(base, 0x18, 5);
  Put32(base, 0x20, 1);
  Put32(base, 0x24, static_cast<std::uint32_t>(root));
  Put32(base, 0x28, kBlock);
  Put32(base, 0x2C, 1);
  SetChecksum(base);
  WriteFileBytes(path, base + bin);
}

void MarkHiveDirty(const std::string& path) {
  std::string hive = ReadFileBytes(path);
  Put32(hive, 4, Get32(hive, 8) + 1);
  SetChecksum(hive);
  WriteFileBytes(path, hive);
}

HiveEdit::HiveEdit(const std::string& path) : path_(path), hive_(hivex_open(path.c_str(), HIVEX_OPEN_WRITE)) {
  if (hive_ == nullptr) Fail("hivex_open " + path);
}

HiveEdit::~HiveEdit() { hivex_close(static_cast<hive_h*>(hive_)); }

HiveEdit& HiveEdit::Set(const std::string& keyPath, const std::string& name, std::uint32_t type,
                        const std::string& data) {
  auto* h = static_cast<hive_h*>(hive_);
  const hive_node_h node = FindKey(h, keyPath, true);
  if (node == 0) Fail("cannot create " + keyPath);
  std::string key = name;
  std::string bytes = data;
  const hive_set_value value{key.data(), static_cast<hive_type>(type), bytes.size(), bytes.data()};
  if (hivex_node_set_value(h, node, &value, 0) != 0) Fail("cannot set " + keyPath + "\\" + name);
  return *this;
}

HiveEdit& HiveEdit::SetString(const std::string& keyPath, const std::string& name, const std::string& text) {
  return Set(keyPath, name, 1, StringData(text));
}

HiveEdit& HiveEdit::SetDword(const std::string& keyPath, const std::string& name, std::uint32_t value) {
  return Set(keyPath, name, 4, DwordData(value));
}

void HiveEdit::Commit() {
  if (hivex_commit(static_cast<hive_h*>(hive_), nullptr, 0) != 0) Fail("hivex_commit " + path_);
}

std::optional<HiveData> ReadHiveValue(const std::string& path, const std::string& keyPath, const std::string& name) {
  HivePtr h(hivex_open(path.c_str(), 0));
  if (!h) Fail("hivex_open " + path);
  const hive_node_h node = FindKey(h.get(), keyPath, false);
  if (node == 0) return std::nullopt;
  const hive_value_h value = hivex_node_get_value(h.get(), node, name.c_str());
  if (value == 0) return std::nullopt;
  hive_type type{};
  std::size_t length = 0;
  char* data = hivex_value_value(h.get(), value, &type, &length);
  HiveData out{static_cast<std::uint32_t>(type), std::string(data, length)};
  std::free(data);
  return out;
}

std::vector<std::string> HiveValueNames(const std::string& path, const std::string& keyPath) {
  HivePtr h(hivex_open(path.c_str(), 0));
  if (!h) Fail("hivex_open " + path);
  std::vector<std::string> names;
  const hive_node_h node = FindKey(h.get(), keyPath, false);
  if (node == 0) return names;
  hive_value_h* values = hivex_node_values(h.get(), node);
  for (std::size_t i = 0; values != nullptr && values[i] != 0; ++i) {
    char* name = hivex_value_key(h.get(), values[i]);
    names.emplace_back(name != nullptr ? name : "?");
    std::free(name);
  }
  std::free(values);
  return names;
}

std::string StringData(const std::string& text) {
  std::string out;
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out + std::string(2, '\0');
}

std::string DwordData(std::uint32_t value) {
  std::string out(4, '\0');
  Put32(out, 0, value);
  return out;
}

}  // namespace korbu::test
