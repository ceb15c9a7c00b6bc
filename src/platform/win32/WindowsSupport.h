#pragma once
// The only door to <windows.h> for the Win32 backend, with owners for its handles.

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>
// After <windows.h>, which they need: shell folders, the recycle bin, tool help.
#include <shellapi.h>
#include <shlobj.h>
#include <tlhelp32.h>

// The "A"/"W" switch macros would rename the platform functions of these names.
#undef DeleteFile
#undef RemoveDirectory
#undef SetFileAttributes

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "platform/FileSystem.h"
#include "platform/Utf16Text.h"

namespace korbu::platform::win32 {

// The program's texts are UTF-8; the system's are UTF-16. Names that are not valid
// UTF-16 (a surrogate without its partner) travel as WTF-8 (see Utf16Text.h), so
// that every name the system holds comes back to it unchanged. Wide and Utf8 are
// the only conversion between the two forms.

/// The program's UTF-8 (WTF-8) text as UTF-16 for the "W" functions. A byte that
/// begins no well-formed sequence becomes U+FFFD, as the system's own conversion
/// does.
inline std::wstring Wide(std::string_view text) {
  const std::u16string units = Wtf8ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}

/// UTF-16 as the program's text: UTF-8, with a lone surrogate kept as its code
/// point (WTF-8).
inline std::string Utf8(std::wstring_view text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return Utf16ToWtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

/// A file path in the form the wide file functions take whatever its length: an
/// absolute drive or network path, made absolute and with "." and ".." resolved
/// first, gets the extended-length prefix (\\?\C:\..., \\?\UNC\server\share\...),
/// which also reaches names the plain form cannot (trailing dots and blanks,
/// device names such as "con"). Empty for an empty path, a path holding a zero
/// byte, or one that is not exactly the WTF-8 of some UTF-16 (no name of the
/// system can be meant by it); the thread's last error then says so.
std::optional<std::wstring> WidePath(std::string_view path);

/// Owns a kernel handle (files, processes, mappings, snapshots).
class UniqueHandle {
 public:
  UniqueHandle() = default;
  explicit UniqueHandle(HANDLE h) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
  UniqueHandle(UniqueHandle&& o) noexcept : h_(std::exchange(o.h_, nullptr)) {}
  UniqueHandle& operator=(UniqueHandle&& o) noexcept {
    if (this != &o) {
      Reset();
      h_ = std::exchange(o.h_, nullptr);
    }
    return *this;
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;
  ~UniqueHandle() { Reset(); }
  bool Valid() const { return h_ != nullptr; }
  HANDLE Get() const { return h_; }
  HANDLE Release() { return std::exchange(h_, nullptr); }
  void Reset() {
    if (h_ != nullptr) ::CloseHandle(h_);
    h_ = nullptr;
  }

 private:
  HANDLE h_ = nullptr;
};

/// Owns a FindFirstFileExW search.
class UniqueFind {
 public:
  explicit UniqueFind(HANDLE h) : h_(h) {}
  UniqueFind(const UniqueFind&) = delete;
  UniqueFind& operator=(const UniqueFind&) = delete;
  ~UniqueFind() {
    if (Valid()) ::FindClose(h_);
  }
  bool Valid() const { return h_ != INVALID_HANDLE_VALUE; }
  HANDLE Get() const { return h_; }

 private:
  HANDLE h_;
};

/// Owns an open registry key (never a predefined root).
class UniqueKey {
 public:
  UniqueKey() = default;
  explicit UniqueKey(HKEY k) : k_(k) {}
  UniqueKey(UniqueKey&& o) noexcept : k_(std::exchange(o.k_, nullptr)) {}
  UniqueKey& operator=(UniqueKey&& o) noexcept {
    if (this != &o) {
      if (k_ != nullptr) ::RegCloseKey(k_);
      k_ = std::exchange(o.k_, nullptr);
    }
    return *this;
  }
  UniqueKey(const UniqueKey&) = delete;
  UniqueKey& operator=(const UniqueKey&) = delete;
  ~UniqueKey() {
    if (k_ != nullptr) ::RegCloseKey(k_);
  }
  HKEY Get() const { return k_; }

 private:
  HKEY k_ = nullptr;
};

/// The kind of an entry by its attribute bits: a reparse point is a link (never
/// followed), then a folder, a device, anything else a regular file.
EntryKind EntryKindOf(DWORD attributes);

/// A file time as one 64-bit tick count.
inline std::int64_t ToTicks(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

/// Calls a "W" function that fills a buffer and returns the length it needs (or
/// wrote), growing the buffer until the result fits; the result as WTF-8, empty
/// when the call fails.
template <typename Fill>
std::string FillString(Fill fill) {
  std::wstring buffer(MAX_PATH, L'\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return Utf8(buffer);
    }
    buffer.resize(static_cast<std::size_t>(n) + 1 > buffer.size() * 2 ? static_cast<std::size_t>(n) + 1
                                                                      : buffer.size() * 2);
  }
  return {};
}

}  // namespace korbu::platform::win32
