#include "cli/FileList.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <system_error>

#include "platform/FileSystemPath.h"

namespace korbu::cli {

Expected<std::vector<std::string>> ReadFileList(const std::string& file) {
  // A list is text: a FIFO or device would be read for ever or not at all.
  std::error_code ec;
  if (!std::filesystem::is_regular_file(platform::FileSystemPath(file), ec)) return Failure(file + ": not a file");
  std::ifstream in(platform::FileSystemPath(file), std::ios::binary);
  if (!in) return Failure(file + ": " + std::strerror(errno));
  std::vector<std::string> paths;
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty()) paths.push_back(std::move(line));
  }
  if (in.bad()) return Failure(file + ": cannot be read to its end");
  return paths;
}

}  // namespace korbu::cli
