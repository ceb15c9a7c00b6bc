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
#include <string>
#include <string_view>
#include <utility>

#include "platform/Utf16Text.h"

namespace korbu::platform::win32 {

/// The program's UTF-8 text (WTF-8, see Utf16Text.h) as wide text for the "W"
/// functions, and back: the one conversion at the boundary of the backend.
inline std::wstring Wide(std::string_view text) {
  const std::u16string units = Wtf8ToUtf16(text);
  return std::wstring(units.begin(), units.end());
}
inline std::string Utf8(std::wstring_view text) {
  static_assert(sizeof(wchar_t) == sizeof(char16_t));
  return Utf16ToWtf8(std::u16string_view(reinterpret_cast<const char16_t*>(text.data()), text.size()));
}

/// Wide text as bytes of the ANSI code page, the encoding of the program's texts.
inline std::string Narrow(std::wstring_view text) {
  if (text.empty()) return {};
  const int length = static_cast<int>(text.size());
  const int size = ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<std::size_t>(size > 0 ? size : 0), '\0');
  if (size > 0) ::WideCharToMultiByte(CP_ACP, 0, text.data(), length, out.data(), size, nullptr, nullptr);
  return out;
}

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

/// Owns a FindFirstFileA search.
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

/// A file time as one 64-bit tick count.
inline std::int64_t ToTicks(const FILETIME& t) {
  return static_cast<std::int64_t>((static_cast<std::uint64_t>(t.dwHighDateTime) << 32) |
                                   t.dwLowDateTime);
}

/// Calls an "A" function that fills a buffer and returns the length it needs
/// (or wrote), growing the buffer until the result fits.
template <typename Fill>
std::string FillString(Fill fill) {
  std::string buffer(MAX_PATH, '\0');
  for (int attempt = 0; attempt < 8; ++attempt) {
    const DWORD n = fill(buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return {};
    if (n < buffer.size()) {
      buffer.resize(n);
      return buffer;
    }
    buffer.resize(static_cast<std::size_t>(n) + 1 > buffer.size() * 2 ? static_cast<std::size_t>(n) + 1
                                                                      : buffer.size() * 2);
  }
  return {};
}

}  // namespace korbu::platform::win32
