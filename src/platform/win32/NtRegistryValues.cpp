#include "platform/win32/NtRegistryValues.h"

#include <optional>
#include <winternl.h>

extern "C" {
NTSTATUS NTAPI NtEnumerateValueKey(HANDLE key, ULONG index, ULONG infoClass, PVOID info, ULONG length,
                                   PULONG resultLength);
NTSTATUS NTAPI NtQueryValueKey(HANDLE key, PUNICODE_STRING name, ULONG infoClass, PVOID info, ULONG length,
                               PULONG resultLength);
NTSTATUS NTAPI NtSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG titleIndex, ULONG type, PVOID data,
                             ULONG size);
NTSTATUS NTAPI NtDeleteValueKey(HANDLE key, PUNICODE_STRING name);
NTSTATUS NTAPI NtDeleteKey(HANDLE key);
}

namespace korbu::platform::win32 {
namespace {

constexpr ULONG kKeyValueFullInformation = 1;
constexpr ULONG kKeyValuePartialInformation = 2;
constexpr NTSTATUS kStatusBufferOverflow = static_cast<NTSTATUS>(0x80000005L);
constexpr NTSTATUS kStatusBufferTooSmall = static_cast<NTSTATUS>(0xC0000023L);
constexpr NTSTATUS kStatusNoMoreEntries = static_cast<NTSTATUS>(0x8000001AL);

struct FullInformation {
  ULONG titleIndex;
  ULONG type;
  ULONG dataOffset;
  ULONG dataLength;
  ULONG nameLength;
  WCHAR name[1];
};

struct PartialInformation {
  ULONG titleIndex;
  ULONG type;
  ULONG dataLength;
  UCHAR data[1];
};

LONG ErrorOf(NTSTATUS status) { return static_cast<LONG>(::RtlNtStatusToDosError(status)); }

// A name as the native calls take it: counted, so zero units are part of it.
std::optional<UNICODE_STRING> Counted(std::u16string_view name) {
  if (name.size() > 0x7FFF) return std::nullopt;
  UNICODE_STRING text;
  text.Length = static_cast<USHORT>(name.size() * sizeof(WCHAR));
  text.MaximumLength = text.Length;
  text.Buffer = const_cast<PWSTR>(reinterpret_cast<const WCHAR*>(name.data()));
  return text;
}

bool Grow(NTSTATUS status) { return status == kStatusBufferOverflow || status == kStatusBufferTooSmall; }

// Calls fill into a buffer that grows until the answer fits.
template <typename Fill>
NTSTATUS FillBuffer(std::vector<unsigned char>& buffer, Fill fill) {
  for (int attempt = 0; attempt < 8; ++attempt) {
    ULONG needed = 0;
    const NTSTATUS status = fill(buffer.data(), static_cast<ULONG>(buffer.size()), &needed);
    if (!Grow(status)) return status;
    buffer.resize(needed > buffer.size() ? needed : buffer.size() * 2);
  }
  return kStatusBufferOverflow;
}

}  // namespace

LONG EnumNtValues(HKEY key, std::vector<NtValue>& values) {
  values.clear();
  std::vector<unsigned char> buffer(1024);
  for (ULONG index = 0;; ++index) {
    const NTSTATUS status = FillBuffer(buffer, [&](void* info, ULONG length, ULONG* needed) {
      return ::NtEnumerateValueKey(key, index, kKeyValueFullInformation, info, length, needed);
    });
    if (status == kStatusNoMoreEntries) return ERROR_SUCCESS;
    if (status < 0) return ErrorOf(status);
    const auto* info = reinterpret_cast<const FullInformation*>(buffer.data());
    if (info->dataOffset > buffer.size() || info->dataLength > buffer.size() - info->dataOffset ||
        info->nameLength > buffer.size() - offsetof(FullInformation, name))
      return ERROR_INVALID_DATA;
    NtValue value;
    value.name.assign(reinterpret_cast<const char16_t*>(info->name), info->nameLength / sizeof(WCHAR));
    value.type = info->type;
    value.data.assign(reinterpret_cast<const char*>(buffer.data()) + info->dataOffset, info->dataLength);
    values.push_back(std::move(value));
  }
}

LONG QueryNtValue(HKEY key, std::u16string_view name, NtValue& value) {
  auto counted = Counted(name);
  if (!counted) return ERROR_INVALID_PARAMETER;
  std::vector<unsigned char> buffer(512);
  const NTSTATUS status = FillBuffer(buffer, [&](void* info, ULONG length, ULONG* needed) {
    return ::NtQueryValueKey(key, &*counted, kKeyValuePartialInformation, info, length, needed);
  });
  if (status < 0) return ErrorOf(status);
  const auto* info = reinterpret_cast<const PartialInformation*>(buffer.data());
  if (info->dataLength > buffer.size() - offsetof(PartialInformation, data)) return ERROR_INVALID_DATA;
  value.name.assign(name);
  value.type = info->type;
  value.data.assign(reinterpret_cast<const char*>(info->data), info->dataLength);
  return ERROR_SUCCESS;
}

LONG SetNtValue(HKEY key, std::u16string_view name, std::uint32_t type, std::string_view data) {
  auto counted = Counted(name);
  if (!counted || data.size() > 0xFFFFFFFFu) return ERROR_INVALID_PARAMETER;
  const NTSTATUS status = ::NtSetValueKey(key, &*counted, 0, type, const_cast<char*>(data.data()),
                                          static_cast<ULONG>(data.size()));
  return status >= 0 ? ERROR_SUCCESS : ErrorOf(status);
}

LONG DeleteNtValue(HKEY key, std::u16string_view name) {
  auto counted = Counted(name);
  if (!counted) return ERROR_INVALID_PARAMETER;
  const NTSTATUS status = ::NtDeleteValueKey(key, &*counted);
  return status >= 0 ? ERROR_SUCCESS : ErrorOf(status);
}

LONG DeleteNtKeyIfEmpty(HKEY key) {
  DWORD subkeys = 0;
  DWORD values = 0;
  const LONG info = ::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, &subkeys, nullptr, nullptr, &values, nullptr,
                                       nullptr, nullptr, nullptr);
  if (info != ERROR_SUCCESS) return info;
  if (subkeys != 0 || values != 0) return ERROR_DIR_NOT_EMPTY;
  const NTSTATUS status = ::NtDeleteKey(key);
  return status >= 0 ? ERROR_SUCCESS : ErrorOf(status);
}

std::optional<std::wstring> KeyPathText(std::u16string_view path) {
  if (path.find(u'\0') != std::u16string_view::npos) return std::nullopt;
  return std::wstring(path.begin(), path.end());
}

}  // namespace korbu::platform::win32
