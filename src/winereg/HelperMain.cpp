// korbu-winereg.exe: run by Wine in a prefix whose wineserver runs, it answers
// one request of RegProtocol.h on its standard input with one reply on its
// standard output. Names, key paths and data pass through ntdll's value calls
// as counted units, so whatever a program wrote is read, written and deleted
// exactly.
#include <algorithm>
#include <string>
#include <vector>

#include "platform/win32/NtRegistryValues.h"
#include "platform/wine/RegProtocol.h"

namespace {

using korbu::platform::win32::DeleteNtKeyIfEmpty;
using korbu::platform::win32::DeleteNtValue;
using korbu::platform::win32::EnumNtValues;
using korbu::platform::win32::KeyPathText;
using korbu::platform::win32::NtValue;
using korbu::platform::win32::SetNtValue;
using korbu::winereg::Operation;
using korbu::winereg::Result;

// The largest request read; an undo of many large values stays far below it.
constexpr std::size_t kMaxRequestBytes = 256u << 20;

bool ReadAll(HANDLE input, std::string& out) {
  char chunk[65536];
  for (;;) {
    DWORD got = 0;
    if (!::ReadFile(input, chunk, sizeof chunk, &got, nullptr) || got == 0) return true;
    if (out.size() + got > kMaxRequestBytes) return false;
    out.append(chunk, got);
  }
}

bool WriteAll(HANDLE output, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(text.size() - done, 1u << 20));
    DWORD wrote = 0;
    if (!::WriteFile(output, text.data() + done, chunk, &wrote, nullptr) || wrote == 0) return false;
    done += wrote;
  }
  return true;
}

HKEY RootOf(std::uint32_t root) {
  if (root == 0x80000001u) return HKEY_CURRENT_USER;
  if (root == 0x80000002u) return HKEY_LOCAL_MACHINE;
  return nullptr;
}

Result Outcome(LONG status) {
  Result result;
  if (status == ERROR_SUCCESS) result.outcome = Result::Outcome::Done;
  else if (status == ERROR_FILE_NOT_FOUND) result.outcome = Result::Outcome::NotFound;
  else if (status == ERROR_DIR_NOT_EMPTY) result.outcome = Result::Outcome::NotEmpty;
  else result.code = static_cast<std::uint32_t>(status);
  return result;
}

class Key {
 public:
  Key() = default;
  Key(const Key&) = delete;
  Key& operator=(const Key&) = delete;
  ~Key() {
    if (key_ != nullptr) ::RegCloseKey(key_);
  }
  HKEY* Out() { return &key_; }
  HKEY Get() const { return key_; }

 private:
  HKEY key_ = nullptr;
};

Result Run(const Operation& op) {
  const HKEY root = RootOf(op.root);
  const auto path = KeyPathText(op.key);
  if (root == nullptr || !path) return Outcome(ERROR_INVALID_PARAMETER);
  Key key;
  switch (op.kind) {
    case Operation::Kind::Read: {
      if (const LONG opened = ::RegOpenKeyExW(root, path->c_str(), 0, KEY_READ, key.Out()); opened != ERROR_SUCCESS)
        return Outcome(opened);
      std::vector<NtValue> values;
      Result result = Outcome(EnumNtValues(key.Get(), values));
      for (NtValue& value : values) result.values.push_back({std::move(value.name), value.type, std::move(value.data)});
      return result;
    }
    case Operation::Kind::Set:
    case Operation::Kind::CreateKey: {
      const LONG made = ::RegCreateKeyExW(root, path->c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                                          KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, key.Out(), nullptr);
      if (made != ERROR_SUCCESS || op.kind == Operation::Kind::CreateKey) return Outcome(made);
      return Outcome(SetNtValue(key.Get(), op.name, op.type, op.data));
    }
    case Operation::Kind::Delete: {
      if (const LONG opened = ::RegOpenKeyExW(root, path->c_str(), 0, KEY_SET_VALUE, key.Out()); opened != ERROR_SUCCESS)
        return Outcome(opened);
      return Outcome(DeleteNtValue(key.Get(), op.name));
    }
    case Operation::Kind::DeleteEmptyKey: {
      if (path->empty()) return Outcome(ERROR_ACCESS_DENIED);  // never a root
      if (const LONG opened = ::RegOpenKeyExW(root, path->c_str(), 0, KEY_QUERY_VALUE | DELETE, key.Out());
          opened != ERROR_SUCCESS)
        return Outcome(opened);
      return Outcome(DeleteNtKeyIfEmpty(key.Get()));
    }
  }
  return Outcome(ERROR_INVALID_PARAMETER);
}

}  // namespace

int main() {
  std::string request;
  if (!ReadAll(::GetStdHandle(STD_INPUT_HANDLE), request)) return 2;
  const auto operations = korbu::winereg::ParseRequest(request);
  if (!operations) return 2;
  std::vector<Result> results;
  results.reserve(operations->size());
  for (const Operation& op : *operations) results.push_back(Run(op));
  return WriteAll(::GetStdHandle(STD_OUTPUT_HANDLE), korbu::winereg::FormatReply(results)) ? 0 : 1;
}
