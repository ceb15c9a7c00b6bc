// Opens a file without sharing it and keeps it open, so that a test sees a file
// held by another program; ends when killed, or after a minute at most.
#include <windows.h>
#include <shellapi.h>

#include <cstdio>

int main() {
  int count = 0;
  LPWSTR* args = CommandLineToArgvW(GetCommandLineW(), &count);
  if (args == nullptr || count != 2) return 2;
  HANDLE h = CreateFileW(args[1], GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                         nullptr);
  LocalFree(args);
  if (h == INVALID_HANDLE_VALUE) return 1;
  std::puts("held");
  std::fflush(stdout);
  Sleep(60 * 1000);
  CloseHandle(h);
  return 0;
}
