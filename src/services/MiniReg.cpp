#include "services/MiniReg.h"

#include <optional>

namespace korbu {
namespace {

using platform::KeyAccess;

}  // namespace

std::optional<ValuePath> SplitValuePath(std::string_view path) {
  const std::size_t p = LastCharPos('\\', path);
  if (p == 0) return std::nullopt;
  return ValuePath{path.substr(0, p - 1), path.substr(p)};
}

std::size_t LastCharPos(char c, std::string_view text) {
  const std::size_t found = text.rfind(c);
  return found == std::string_view::npos ? 0 : found + 1;
}

Status SetRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t type, std::string_view data) {
  auto path = SplitValuePath(valuePath);
  if (!path) return Failure("a value path needs a backslash");
  if (data.size() > 0xFFFFFFFFu) return Failure("the data is too large for a registry value");
  auto key = system.CreateKey(root, path->keyPath);
  if (!key) return key.error();
  return key->SetValue(path->valueName, type, data);
}

bool WriteRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t type, const void* data,
                   std::size_t size) {
  if (data == nullptr && size != 0) return false;
  const std::string_view bytes = size == 0 ? std::string_view() : std::string_view(static_cast<const char*>(data), size);
  return SetRegValue(system, root, valuePath, type, bytes).has_value();
}

bool ReadRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t expectedType,
                  std::vector<unsigned char>& block) {
  block.clear();
  auto path = SplitValuePath(valuePath);
  if (!path) return false;
  auto key = system.OpenKey(root, path->keyPath, KeyAccess::Read);
  if (!key) return false;
  auto value = key->QueryValue(path->valueName);
  if (!value || value->type != expectedType) return false;
  block.assign(value->data.begin(), value->data.end());
  return true;
}

Status SetRegString(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::string_view text) {
  return SetRegValue(system, root, valuePath, platform::kRegSz, platform::RegistryStringData(text));
}

Status SetRegDWord(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t value) {
  const char bytes[4] = {static_cast<char>(value & 0xFFu), static_cast<char>((value >> 8) & 0xFFu),
                         static_cast<char>((value >> 16) & 0xFFu), static_cast<char>((value >> 24) & 0xFFu)};
  return SetRegValue(system, root, valuePath, platform::kRegDword, std::string_view(bytes, sizeof bytes));
}

bool WriteRegString(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::string_view text) {
  return SetRegString(system, root, valuePath, text).has_value();
}

bool WriteRegDWord(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::uint32_t value) {
  return SetRegDWord(system, root, valuePath, value).has_value();
}

bool ReadRegString(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath, std::string& text) {
  text.clear();
  std::vector<unsigned char> block;
  if (!ReadRegValue(system, root, valuePath, platform::kRegSz, block)) return false;
  text = platform::RegistryText(std::string_view(reinterpret_cast<const char*>(block.data()), block.size()));
  return true;
}

bool DeleteRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view valuePath) {
  auto path = SplitValuePath(valuePath);
  if (!path) return false;
  return DeleteRegValue(system, root, path->keyPath, path->valueName);
}

Status RemoveRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view keyPath, std::string_view valueName) {
  auto key = system.OpenKey(root, keyPath, KeyAccess::Write);
  if (!key) return key.error();
  return key->DeleteValue(valueName);
}

bool DeleteRegValue(const platform::WindowsSystem& system, RootKey root, std::string_view keyPath, std::string_view valueName) {
  return RemoveRegValue(system, root, keyPath, valueName).has_value();
}

}  // namespace korbu
