#include "ShellFixture.h"

#include <cstdlib>
#include <filesystem>

namespace korbu::test {
namespace fs = std::filesystem;

ScopedEnv::ScopedEnv(std::string name, const std::optional<std::string>& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  if (value) {
    ::setenv(name_.c_str(), value->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

ScopedEnv::~ScopedEnv() {
  if (old_) {
    ::setenv(name_.c_str(), old_->c_str(), 1);
  } else {
    ::unsetenv(name_.c_str());
  }
}

namespace {
constexpr const char kUserReg[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n"
    "#time=1da0000000000000\n"
    "\"Local AppData\"=\"C:\\\\users\\\\tester\\\\AppData\\\\Local\"\n"
    "\"My Pictures\"=\"C:\\\\users\\\\tester\\\\Pictures\"\n";

constexpr const char kSystemReg[] =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win64\n";
}  // namespace

FakePrefix::FakePrefix()
    : prefix_(fs::canonical(tree_.Root()).string() + "/prefix"),
      wineprefix_("WINEPREFIX", prefix_),
      home_("HOME", fs::canonical(tree_.Root()).string() + "/home") {
  tree_.MakeDir("home");
  tree_.Write("prefix/system.reg", kSystemReg);
  tree_.Write("prefix/user.reg", kUserReg);
  tree_.MakeDir("prefix/drive_c/windows/system32");
  tree_.MakeDir("prefix/dosdevices");
  fs::create_directory_symlink("../drive_c", prefix_ + "/dosdevices/c:");
}

std::string FakePrefix::Path(const std::string& relative) const {
  return relative.empty() ? prefix_ : prefix_ + "/" + relative;
}

std::string FakePrefix::DriveC(const std::string& relative) const {
  return relative.empty() ? prefix_ + "/drive_c" : prefix_ + "/drive_c/" + relative;
}

std::string FakePrefix::WriteC(const std::string& relative, const std::string& bytes) const {
  WriteFileBytes(DriveC(relative), bytes);
  return DriveC(relative);
}

}  // namespace korbu::test
