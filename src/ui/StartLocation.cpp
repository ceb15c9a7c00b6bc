#include "ui/StartLocation.h"

#include <filesystem>
#include <system_error>

namespace korbu {
namespace {

namespace fs = std::filesystem;

// UTF-8 both ways, whatever the system's code page (Windows reads a plain string
// in the ANSI one).
fs::path PathOf(const std::string& text) { return fs::path(std::u8string(text.begin(), text.end())); }

std::string TextOf(const fs::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

// The first argument that is no option ("--" ends the options); empty for none.
std::string FirstNamed(const std::vector<std::string>& arguments) {
  bool options = true;
  for (const std::string& argument : arguments) {
    if (options && argument == "--") {
      options = false;
      continue;
    }
    if (options && !argument.empty() && argument.front() == '-') continue;
    return argument;
  }
  return std::string();
}

}  // namespace

std::string FolderToSelect(const std::string& path) {
  if (path.empty()) return std::string();
  std::error_code error;
  fs::path where = fs::absolute(PathOf(path), error);
  if (error) return std::string();
  where = where.lexically_normal();
  const fs::file_status status = fs::status(where, error);
  if (error || !fs::exists(status)) return std::string();
  if (!fs::is_directory(status)) {
    where = where.parent_path();
  } else if (where.has_relative_path() && !where.has_filename()) {
    where = where.parent_path();  // "/tmp/x/" as "/tmp/x"
  }
  return TextOf(where);
}

std::string StartLocation(const std::vector<std::string>& arguments) { return FolderToSelect(FirstNamed(arguments)); }

std::string FileToScan(const std::string& path) {
  if (path.empty()) return std::string();
  std::error_code error;
  const fs::path where = fs::absolute(PathOf(path), error);
  if (error || !fs::is_regular_file(fs::status(where, error)) || error) return std::string();
  return TextOf(where.lexically_normal());
}

std::string StartFile(const std::vector<std::string>& arguments) { return FileToScan(FirstNamed(arguments)); }

bool SameFolder(const std::string& one, const std::string& other) {
  const auto trimmed = [](std::string path) {
    while (path.size() > 1 && (path.back() == '/' || path.back() == '\\')) path.pop_back();
#ifdef _WIN32
    for (char& c : path) {
      if (c == '/') c = '\\';
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
#endif
    return path;
  };
  return !one.empty() && trimmed(one) == trimmed(other);
}

}  // namespace korbu
