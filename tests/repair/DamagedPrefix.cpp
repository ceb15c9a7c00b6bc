#include "DamagedPrefix.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <filesystem>
#include <vector>

#include "services/MiniReg.h"
#include "support/CrcForge.h"
#include "platform/SystemFactory.h"

namespace korbu::test {
namespace fs = std::filesystem;

const char* const kDamagedUserReg = R"([Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Advanced] 1700000000
"Hidden"=dword:00000002
"HideFileExt"=dword:00000001
"ShowSuperHidden"=dword:00000000
"SuperHidden"=dword:00000001

[Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer] 1700000000
"NoFolderOptions"=dword:00000001

[Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System] 1700000000
"DisableCMD"=dword:00000001
"DisableRegistryTools"=dword:00000001
"DisableTaskMgr"=dword:00000001

[Software\\Microsoft\\Windows\\CurrentVersion\\Run] 1700000000
"Bron-Spizaetus"="C:\\windows\\ShellNew\\sempalong.exe"
"Keep"="C:\\windows\\notepad.exe"

)";

const char* const kDamagedSystemReg = R"([Software\\Classes\\exefile\\shell\\open\\command] 1700000000
@="\"%1\" %* C:\\windows\\sempalong.exe"

[System\\CurrentControlSet\\Control\\SafeBoot] 1700000000
"AlternateShell"="C:\\windows\\sempalong.exe"

)";

namespace {

std::string Utf16(std::string_view text) {
  std::string out;
  for (char c : text) {
    out += c;
    out += '\0';
  }
  return out;
}

}  // namespace

DamagedPrefix::DamagedPrefix()
    : prefix_(kDamagedSystemReg, kDamagedUserReg),
      data_("XDG_DATA_HOME", home_.Path("data")),
      homeVar_("HOME", home_.Path()) {
  WinePrefixFixture& p = prefix_;
  wormFile = p.WriteC("windows/ShellNew/sempalong.exe", VariantFile(1));
  p.WriteC("windows/system.ini", "[boot]\r\nshell=Explorer.exe C:\\windows\\sempalong.exe\r\nsystem.drv=system.drv\r\n");
  p.WriteC("autoexec.bat", "pause");
  p.WriteC("windows/system32/drivers/etc/hosts", "127.0.0.1 localhost\n10.1.2.3 intranet\n");

  const std::string markA = Utf16("Documents and Settings");
  p.WriteC("windows/Tasks/A-and-C.job", "job" + markA + Utf16("\\brontok.exe"));
  p.WriteC("windows/Tasks/A-and-B.job", markA + Utf16("\\Bro"));
  p.WriteC("windows/Tasks/B-and-C.job", Utf16("C:\\Bro\\rontok.exe"));
  p.WriteC("windows/Tasks/other-case.job", Utf16("documents and settings\\BRONTOK"));

  // The marker straddles the first 32 KiB block of the content search.
  std::string big(32768 - 10, 'x');
  p.WriteC("users/tester/Pictures/big.html", big + "JowoBot #VM Community" + big);
  p.WriteC("users/tester/Pictures/plain.html", "<html>JowoBot #vm community</html>");
  p.WriteC("users/tester/Pictures/sub/deep.html", "JowoBot #VM Community");
  const std::string readOnly = p.WriteC("users/tester/Pictures/locked.html", "JowoBot #VM Community");
  fs::permissions(readOnly, fs::perms::owner_write, fs::perm_options::remove);

  const std::string local = p.LocalAppData();
  const std::string deep = p.WriteC("users/tester/AppData/Local/a/b/c/.Bronto.exe", "deep");
  fs::permissions(deep, fs::perms::owner_write, fs::perm_options::remove);
  p.WriteC("users/tester/AppData/Local/Bronze.txt", "user file");
  p.WriteC("users/tester/AppData/Local/Bron-locked.dat", "in use");
  p.WriteC("users/tester/AppData/Local/notes.txt", "stays");
  p.WriteC("users/tester/AppData/Local/bron/worm.dll", "folder content");
  p.WriteC("users/tester/AppData/Local/.bronhidden/Bron1.exe", "hidden folder's file");
  p.WriteC("users/tester/AppData/Local/.bronhidden/keep.txt", "stays");
  outside_.Write("Bronx.txt", "outside");
  outside_.Write("target.txt", "link target");
  fs::create_directory_symlink(outside_.Path(), local + "/linkdir");
  fs::create_symlink(outside_.Path("target.txt"), local + "/Bron-link.txt");
}

bool DamagedPrefix::InTrash(std::string_view name) const {
  return fs::exists(fs::symlink_status(Trashed(name)));
}

FileLock::FileLock(const std::string& path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  held_ = fd_ >= 0 && ::flock(fd_, LOCK_EX | LOCK_NB) == 0;
}

FileLock::~FileLock() {
  if (fd_ >= 0) ::close(fd_);
}

std::optional<std::string> RegData(unsigned root, std::string_view valuePath, unsigned type) {
  std::vector<unsigned char> block;
  if (!ReadRegValue(*platform::DefaultWindowsSystem(), root, valuePath, type, block)) return std::nullopt;
  return std::string(block.begin(), block.end());
}

}  // namespace korbu::test
