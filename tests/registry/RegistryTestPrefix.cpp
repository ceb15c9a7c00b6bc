#include "RegistryTestPrefix.h"

#include <cstdlib>

namespace korbu::test {

ScopedEnv::ScopedEnv(std::string name, const std::string& value) : name_(std::move(name)) {
  if (const char* old = std::getenv(name_.c_str())) old_ = old;
  ::setenv(name_.c_str(), value.c_str(), 1);
}

ScopedEnv::~ScopedEnv() {
  if (old_) ::setenv(name_.c_str(), old_->c_str(), 1);
  else ::unsetenv(name_.c_str());
}

const std::string_view kSampleSystemReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\Machine\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Classes\\\\exefile\\\\shell\\\\open\\\\command] 1700000000\n"
    "#time=1da1b2c3d4e5f60\n"
    "@=\"\\\"%1\\\" %*\"\n"
    "\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n"
    "#time=1da1b2c3d4e5f60\n"
    "\"Alpha\"=\"C:\\\\windows\\\\alpha.exe\"\n"
    "\"Zulu\"=\"C:\\\\windows\\\\zulu.exe /quiet\"\n"
    "\n"
    "[Software\\\\Wine\\\\Types] 1700000001\n"
    "#time=1da1b2c3d4e5f61\n"
    "@=\"default text\"\n"
    "\"Binary\"=hex:00,01,02,ff\n"
    "\"Dword\"=dword:0000002a\n"
    "\"Expand\"=str(2):\"%SystemRoot%\\\\system32\"\n"
    "\"Long\"=hex:00,01,02,03,04,05,06,07,08,09,0a,0b,0c,0d,0e,0f,10,11,12,13,14,15,\\\n"
    "  16,17,18,19\n"
    "\"Multi\"=str(7):\"one\\0two\\0\"\n"
    "\"Qword\"=hex(b):01,00,00,00,00,00,00,00\n";

const std::string_view kSampleUserReg =
    "WINE REGISTRY Version 2\n"
    ";; All keys relative to \\\\User\\\\S-1-5-21-0-0-0-1000\n"
    "\n"
    "#arch=win64\n"
    "\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Explorer\\\\Shell Folders] 1700000000\n"
    "#time=1da1b2c3d4e5f60\n"
    "\"Local AppData\"=\"C:\\\\users\\\\korbu\\\\AppData\\\\Local\"\n"
    "\"My Pictures\"=\"C:\\\\users\\\\korbu\\\\Pictures\"\n"
    "\n"
    "[Software\\\\Microsoft\\\\Windows\\\\CurrentVersion\\\\Run] 1700000000\n"
    "#time=1da1b2c3d4e5f60\n"
    "\"Worm\"=\"C:\\\\users\\\\korbu\\\\worm.exe\"\n";

TestPrefix::TestPrefix(std::string_view systemReg, std::string_view userReg) {
  tree_.Write("system.reg", systemReg);
  tree_.Write("user.reg", userReg);
  tree_.MakeDir("drive_c/windows/system32");
  env_.emplace("WINEPREFIX", tree_.Path());
}

}  // namespace korbu::test
