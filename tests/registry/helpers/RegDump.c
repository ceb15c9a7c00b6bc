/* Lists the values of a key of HKEY_CURRENT_USER the way a Windows program sees
   them through the plain wide registry API (RegEnumValueW), one line each:
   name as UTF-16LE hex, type, data hex ("-" for nothing). An independent
   witness of what the registry holds. Usage: regdump KEY */
#include <stdio.h>
#include <windows.h>

static void PrintHex(const unsigned char* bytes, DWORD size) {
  if (size == 0) fputs("-", stdout);
  for (DWORD i = 0; i < size; ++i) printf("%02x", bytes[i]);
}

int main(int argc, char** argv) {
  static WCHAR name[32768];
  static unsigned char data[1 << 20];
  HKEY key;
  if (argc != 2 || RegOpenKeyExA(HKEY_CURRENT_USER, argv[1], 0, KEY_READ, &key) != ERROR_SUCCESS) return 2;
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = sizeof name / sizeof name[0];
    DWORD dataSize = sizeof data;
    DWORD type = 0;
    LONG status = RegEnumValueW(key, index, name, &nameLength, NULL, &type, data, &dataSize);
    if (status == ERROR_NO_MORE_ITEMS) break;
    if (status != ERROR_SUCCESS) return 3;
    PrintHex((const unsigned char*)name, nameLength * sizeof(WCHAR));
    printf(" %lx ", (unsigned long)type);
    PrintHex(data, dataSize);
    fputs("\n", stdout);
  }
  RegCloseKey(key);
  return 0;
}
