#pragma once
// The program's paths for the standard library's files and streams.

#include <filesystem>
#include <string>
#include <string_view>

namespace korbu::platform {

/// A program path as std::filesystem and the file streams take it. Paths are UTF-8
/// (WTF-8) on Windows, where a narrow path would be read in the ANSI code page and
/// miss every name outside it; bytes as they are on POSIX.
inline std::filesystem::path FileSystemPath(std::string_view path) {
#ifdef _WIN32
  return std::filesystem::path(std::u8string_view(reinterpret_cast<const char8_t*>(path.data()), path.size()));
#else
  return std::filesystem::path(path);
#endif
}

/// The program's form of a std::filesystem path (see FileSystemPath).
inline std::string ProgramPath(const std::filesystem::path& path) {
#ifdef _WIN32
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
#else
  return path.string();
#endif
}

}  // namespace korbu::platform
