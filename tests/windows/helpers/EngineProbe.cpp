// Scans one file through the engine library beside this program, by descriptor:
//   windows_engine_probe.exe DATABASE-FOLDER FILE
// prints the result code and the virus name. The engine library must hand
// libclamav the descriptor's system handle, not the descriptor itself.

#include <fcntl.h>
#include <io.h>
#include <windows.h>
#include <shellapi.h>

#include <cstdint>
#include <cstdio>
#include <string>

#include "bridge/korbu_clam.h"

int main() {
  // The arguments as UTF-16, the database folder for the engine library as UTF-8.
  int count = 0;
  LPWSTR* args = ::CommandLineToArgvW(::GetCommandLineW(), &count);
  if (args == nullptr || count != 3) return 2;
  char database[4096];
  if (::WideCharToMultiByte(CP_UTF8, 0, args[1], -1, database, sizeof database, nullptr, nullptr) == 0) return 2;
  const std::wstring file = args[2];
  ::LocalFree(args);
  wchar_t self[MAX_PATH];
  DWORD length = ::GetModuleFileNameW(nullptr, self, MAX_PATH);
  if (length == 0 || length >= MAX_PATH) return 2;
  std::wstring folder(self, length);
  folder.resize(folder.find_last_of(L'\\') + 1);
  HMODULE library = ::LoadLibraryW((folder + L"libclamav.dll").c_str());
  if (library == nullptr) return 3;
  auto loaddbdir = reinterpret_cast<decltype(&clam_loaddbdir)>(
      reinterpret_cast<void*>(::GetProcAddress(library, "clam_loaddbdir")));
  auto build = reinterpret_cast<decltype(&clam_build)>(
      reinterpret_cast<void*>(::GetProcAddress(library, "clam_build")));
  auto scandesc = reinterpret_cast<decltype(&clam_scandesc)>(
      reinterpret_cast<void*>(::GetProcAddress(library, "clam_scandesc")));
  if (loaddbdir == nullptr || build == nullptr || scandesc == nullptr) return 3;
  std::uint32_t signatures = 0;
  void* engine = loaddbdir(database, &signatures, nullptr);
  if (engine == nullptr || build(engine) != 0) return 4;
  int desc = ::_wopen(file.c_str(), _O_RDONLY | _O_BINARY);
  if (desc < 0) return 5;
  char name[CLAM_NAME_BUFFER_SIZE];
  int result = scandesc(desc, name, nullptr, engine, nullptr, 0);
  // The descriptor is still this program's and still open.
  char first = 0;
  bool stillOpen = ::_lseek(desc, 0, SEEK_SET) == 0 && ::_read(desc, &first, 1) == 1;
  ::_close(desc);
  std::printf("%d %s %s\n", result, name, stillOpen ? "open" : "closed");
  return 0;
}
