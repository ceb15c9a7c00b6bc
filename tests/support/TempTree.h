#pragma once
// Temporary folders and files for tests. Everything is removed when the TempTree
// goes out of scope.

#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>

namespace korbu::test {

class TempTree {
 public:
  TempTree();
  ~TempTree();
  TempTree(const TempTree&) = delete;
  TempTree& operator=(const TempTree&) = delete;

  /// The root folder, without a trailing separator.
  const std::filesystem::path& Root() const { return root_; }
  std::string Path(std::string_view relative = {}) const;

  /// Writes bytes to a file below the root, making its folders; returns its path.
  std::string Write(std::string_view relative, std::string_view bytes) const;
  /// Makes a folder below the root (with its parents); returns its path.
  std::string MakeDir(std::string_view relative) const;

 private:
  std::filesystem::path root_;
};

/// Writes a whole file (binary), making its folders.
void WriteFileBytes(const std::filesystem::path& path, std::string_view bytes);
/// Reads a whole file (binary); empty when it cannot be read.
std::string ReadFileBytes(const std::filesystem::path& path);

/// The shared test material folder (signature databases), or empty when absent.
std::string SharedDir();
/// The build folder (where the programs and the engine library are).
std::string BuildDir();

}  // namespace korbu::test
