#include "platform/Registry.h"

namespace korbu::platform {
namespace {

Status CanRead(const RegistryKey::State* state) {
  if (state == nullptr) return Failure("no key");
  if (state->access == KeyAccess::Write) return Failure("the key was opened for writing only");
  return Ok();
}

Status CanWrite(const RegistryKey::State* state) {
  if (state == nullptr) return Failure("no key");
  if (state->access == KeyAccess::Read) return Failure("the key was opened for reading only");
  return Ok();
}

}  // namespace

RegistryKey::RegistryKey(std::unique_ptr<State> state) : state_(std::move(state)) {}
RegistryKey::RegistryKey(RegistryKey&& other) noexcept = default;
RegistryKey& RegistryKey::operator=(RegistryKey&& other) noexcept = default;
RegistryKey::~RegistryKey() = default;

Expected<std::vector<RegistryValue>> RegistryKey::EnumValues() const {
  if (auto usable = CanRead(state_.get()); !usable) return usable.error();
  return state_->Values();
}

Expected<RegistryValue> RegistryKey::QueryValue(std::string_view name) const {
  if (auto usable = CanRead(state_.get()); !usable) return usable.error();
  return state_->Value(name);
}

Status RegistryKey::SetValue(std::string_view name, std::uint32_t type, std::string_view data) {
  if (auto usable = CanWrite(state_.get()); !usable) return usable;
  return state_->Set(name, type, data);
}

Status RegistryKey::DeleteValue(std::string_view name) {
  if (auto usable = CanWrite(state_.get()); !usable) return usable;
  return state_->Delete(name);
}

}  // namespace korbu::platform
