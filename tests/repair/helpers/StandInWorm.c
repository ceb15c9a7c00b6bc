/* A stand-in for the worm under Wine: every half second it writes its Run
   values (one named with a backslash), DisableTaskMgr = 1 and itself as the
   open command of executables. Run with the argument "idle" it only sleeps: the
   user's unrelated program. */
#include <string.h>
#include <windows.h>

static void SetString(HKEY root, const char* key, const char* name, const char* data) {
  HKEY handle;
  if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) != ERROR_SUCCESS) return;
  RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE*)data, (DWORD)strlen(data) + 1);
  RegCloseKey(handle);
}

static void SetDword(HKEY root, const char* key, const char* name, DWORD data) {
  HKEY handle;
  if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) != ERROR_SUCCESS) return;
  RegSetValueExA(handle, name, 0, REG_DWORD, (const BYTE*)&data, sizeof data);
  RegCloseKey(handle);
}

int main(int argc, char** argv) {
  if (argc > 1 && strcmp(argv[1], "idle") == 0) {
    Sleep(10 * 60 * 1000);
    return 0;
  }
  char self[MAX_PATH];
  if (GetModuleFileNameA(NULL, self, sizeof self) == 0 || GetModuleFileNameA(NULL, self, sizeof self) >= sizeof self)
    return 1;
  const char* run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  for (int round = 0; round < 1200; ++round) {
    SetString(HKEY_CURRENT_USER, run, "Bron-Spizaetus", self);
    SetString(HKEY_CURRENT_USER, run, "Bron\\Tok", self);
    SetDword(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", "DisableTaskMgr", 1);
    SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\exefile\\shell\\open\\command", "", self);
    Sleep(500);
  }
  return 0;
}
