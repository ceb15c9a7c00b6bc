#include "support/TempTree.h"

#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <random>
#include <system_error>

#include "platform/FileSystemPath.h"

namespace korbu::test {
namespace fs = std::filesystem;
using platform::FileSystemPath;
using platform::ProgramPath;

#ifndef _WIN32
namespace {
// No test program reads or writes the verdict cache or the action records of the
// user running it, nor do the programs it starts: it gets folders of its own for
// both, which a test may still point elsewhere.
struct OwnUserFolders {
  std::string root;
  OwnUserFolders() {
    std::string pattern = (fs::temp_directory_path() / "korbu-test-user-XXXXXX").string();
    if (::mkdtemp(pattern.data()) == nullptr) return;
    root = pattern;
    ::setenv("XDG_CACHE_HOME", (root + "/cache").c_str(), 1);
    ::setenv("XDG_DATA_HOME", (root + "/data").c_str(), 1);
  }
  ~OwnUserFolders() {
    std::error_code ec;
    if (!root.empty()) fs::remove_all(root, ec);
  }
};
const OwnUserFolders ownUserFolders;
}  // namespace
#endif

TempTree::TempTree() {
  static std::atomic<unsigned> counter{0};
  std::random_device rd;
  for (int attempt = 0; attempt < 100; ++attempt) {
    auto name = "korbu-test-" + std::to_string(rd()) + "-" + std::to_string(counter++);
    auto candidate = fs::temp_directory_path() / name;
    std::error_code ec;
    if (fs::create_directory(candidate, ec)) {
      root_ = candidate;
      return;
    }
  }
  throw std::runtime_error("cannot make a temporary folder");
}

TempTree::~TempTree() {
  std::error_code ec;
  // Tests may leave read-only files and folders behind; give write back first.
  for (auto it = fs::recursive_directory_iterator(root_, fs::directory_options::skip_permission_denied, ec);
       !ec && it != fs::recursive_directory_iterator(); it.increment(ec)) {
    if (!it->is_symlink()) fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
  }
  fs::remove_all(root_, ec);
}

std::string TempTree::Path(std::string_view relative) const {
  if (relative.empty()) return ProgramPath(root_);
  // Native separators throughout, so that paths compare equal to what a listing gives.
  return ProgramPath((root_ / FileSystemPath(relative)).make_preferred());
}

std::string TempTree::Write(std::string_view relative, std::string_view bytes) const {
  auto path = (root_ / FileSystemPath(relative)).make_preferred();
  WriteFileBytes(path, bytes);
  return ProgramPath(path);
}

std::string TempTree::MakeDir(std::string_view relative) const {
  auto path = (root_ / FileSystemPath(relative)).make_preferred();
  fs::create_directories(path);
  return ProgramPath(path);
}

void WriteFileBytes(const fs::path& path, std::string_view bytes) {
  if (path.has_parent_path()) fs::create_directories(path.parent_path());
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  if (!out) throw std::runtime_error("cannot write " + ProgramPath(path));
}

std::string ReadFileBytes(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string SharedDir() {
  std::error_code ec;
  fs::path dir = KORBU_SHARED_DIR;
  if (fs::exists(dir / "engine-test-db" / "main.cvd", ec)) return fs::canonical(dir, ec).string();
  return {};
}

std::string BuildDir() { return KORBU_BUILD_DIR; }

}  // namespace korbu::test
