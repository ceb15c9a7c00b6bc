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

namespace korbu::platform::win32 {

// The program's texts are UTF-8; the system's are UTF-16. Names that are not valid
// UTF-16 (a surrogate without its partner) travel as WTF-8: such a surrogate is
// written as the three bytes UTF-8 would give its code point, so that every name
// the system holds comes back to it unchanged. Wide and Utf8 are the only
// conversion between the two forms.

/// The program's UTF-8 (WTF-8) text as UTF-16 for the "W" functions. A byte that
/// begins no well-formed sequence becomes U+FFFD, as the system's own conversion
/// does.
inline std::wstring Wide(std::string_view text) {
  std::wstring out;
  out.reserve(text.size());
  const auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  const auto continuation = [&](std::size_t k) { return k < text.size() && (byte(k) & 0xC0) == 0x80; };
  for (std::size_t i = 0; i < text.size();) {
    const unsigned char lead = byte(i);
    std::uint32_t point = 0;
    std::size_t length = 0;
    if (lead < 0x80) {
      point = lead;
      length = 1;
    } else if (lead >= 0xC2 && lead <= 0xDF && continuation(i + 1)) {
      point = (lead & 0x1Fu) << 6 | (byte(i + 1) & 0x3Fu);
      length = 2;
    } else if (lead >= 0xE0 && lead <= 0xEF && continuation(i + 1) && continuation(i + 2)) {
      point = (lead & 0x0Fu) << 12 | (byte(i + 1) & 0x3Fu) << 6 | (byte(i + 2) & 0x3Fu);
      if (point >= 0x800) length = 3;
    } else if (lead >= 0xF0 && lead <= 0xF4 && continuation(i + 1) && continuation(i + 2) && continuation(i + 3)) {
      point = (lead & 0x07u) << 18 | (byte(i + 1) & 0x3Fu) << 12 | (byte(i + 2) & 0x3Fu) << 6 | (byte(i + 3) & 0x3Fu);
      if (point >= 0x10000 && point <= 0x10FFFF) length = 4;
    }
    if (length == 0) {
      out.push_back(static_cast<wchar_t>(0xFFFD));
      ++i;
      continue;
    }
    if (point >= 0x10000) {
      point -= 0x10000;
      out.push_back(static_cast<wchar_t>(0xD800 + (point >> 10)));
      out.push_back(static_cast<wchar_t>(0xDC00 + (point & 0x3FF)));
    } else {
      out.push_back(static_cast<wchar_t>(point));
    }
    i += length;
  }
  return out;
}

/// UTF-16 as the program's text: UTF-8, with a lone surrogate kept as its code
/// point (WTF-8).
inline std::string Utf8(std::wstring_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    std::uint32_t point = static_cast<std::uint16_t>(text[i]);
    if (point >= 0xD800 && point <= 0xDBFF && i + 1 < text.size()) {
      const std::uint32_t low = static_cast<std::uint16_t>(text[i + 1]);
      if (low >= 0xDC00 && low <= 0xDFFF) {
        point = 0x10000 + ((point - 0xD800) << 10) + (low - 0xDC00);
        ++i;
      }
    }
    if (point < 0x80) {
      out.push_back(static_cast<char>(point));
    } else if (point < 0x800) {
      out.push_back(static_cast<char>(0xC0 | (point >> 6)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else if (point < 0x10000) {
      out.push_back(static_cast<char>(0xE0 | (point >> 12)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    } else {
      out.push_back(static_cast<char>(0xF0 | (point >> 18)));
      out.push_back(static_cast<char>(0x80 | ((point >> 12) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | ((point >> 6) & 0x3F)));
      out.push_back(static_cast<char>(0x80 | (point & 0x3F)));
    }
  }
  return out;
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
