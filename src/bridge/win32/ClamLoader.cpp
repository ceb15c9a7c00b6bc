#include "bridge/ClamLoader.h"

#include "platform/win32/WindowsSupport.h"

#include <string>
#include <vector>

namespace korbu::bridge {
namespace {

using platform::win32::Utf8;

// ClamAV's installer (CPack WiX) records its installation folder as a value of
// this key, named by the installer's upgrade code.
constexpr wchar_t kInstallerKey[] = L"SOFTWARE\\Kitware\\CMake\\Packages\\ClamAV";

std::string folderOfLibclamav;

std::wstring ProgramFolder() {
  std::wstring path(32768, L'\0');
  DWORD length = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
  if (length == 0 || length >= path.size()) return {};
  path.resize(length);
  std::size_t slash = path.find_last_of(L"\\/");
  return slash == std::wstring::npos ? std::wstring() : path.substr(0, slash);
}

std::vector<std::wstring> InstallerFolders() {
  std::vector<std::wstring> folders;
  HKEY key = nullptr;
  if (::RegOpenKeyExW(HKEY_LOCAL_MACHINE, kInstallerKey, 0, KEY_READ | KEY_WOW64_64KEY, &key) !=
      ERROR_SUCCESS) {
    return folders;
  }
  // Room for the longest name and data the key holds, whatever their length.
  DWORD longestName = 0;
  DWORD longestData = 0;
  if (::RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &longestName,
                         &longestData, nullptr, nullptr) != ERROR_SUCCESS) {
    ::RegCloseKey(key);
    return folders;
  }
  std::wstring name(static_cast<std::size_t>(longestName) + 1, L'\0');
  // The stored text need not end in a zero: one is added after it.
  std::vector<wchar_t> data(static_cast<std::size_t>(longestData) / sizeof(wchar_t) + 2, L'\0');
  for (DWORD index = 0;; ++index) {
    DWORD nameLength = static_cast<DWORD>(name.size());
    DWORD type = 0;
    DWORD dataLength = static_cast<DWORD>((data.size() - 1) * sizeof(wchar_t));
    LONG result = ::RegEnumValueW(key, index, name.data(), &nameLength, nullptr, &type,
                                  reinterpret_cast<BYTE*>(data.data()), &dataLength);
    if (result == ERROR_NO_MORE_ITEMS) break;
    if (result != ERROR_SUCCESS || type != REG_SZ) continue;
    data[dataLength / sizeof(wchar_t)] = L'\0';
    std::wstring folder(data.data());
    while (!folder.empty() && (folder.back() == L'\\' || folder.back() == L'/')) folder.pop_back();
    if (!folder.empty()) folders.push_back(folder);
  }
  ::RegCloseKey(key);
  return folders;
}

std::vector<std::wstring> CandidateFolders() {
  std::vector<std::wstring> folders;
  std::wstring program = ProgramFolder();
  if (!program.empty()) folders.push_back(program + L"\\clamav");
  for (const std::wstring& folder : InstallerFolders()) folders.push_back(folder);
  const DWORD need = ::GetEnvironmentVariableW(L"ProgramFiles", nullptr, 0);
  std::wstring programFiles(need, L'\0');
  const DWORD length = need > 0 ? ::GetEnvironmentVariableW(L"ProgramFiles", programFiles.data(), need) : 0;
  if (length > 0 && length < need) folders.push_back(programFiles.substr(0, length) + L"\\ClamAV");
  return folders;
}

HMODULE LoadByFullPath(const std::wstring& path) {
  // The library's own folder is searched for its dependencies (OpenSSL, json-c...),
  // and no "missing DLL" box stops the program.
  UINT oldMode = ::SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
  HMODULE module = ::LoadLibraryExW(path.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
  ::SetErrorMode(oldMode);
  return module;
}

bool Exists(const std::wstring& path) { return ::GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

}  // namespace

void* OpenLibclamav(std::string& problem) {
  std::string tried;
  for (const std::wstring& folder : CandidateFolders()) {
    std::wstring path = folder + L"\\libclamav.dll";
    tried += (tried.empty() ? "" : ", ") + Utf8(path);
    if (!Exists(path)) continue;
    // libclamav loads its unrar module by bare name, which would find whatever
    // the search order offers first: it is loaded here from its own folder.
    for (const wchar_t* unrar : {L"\\libclamunrar.dll", L"\\libclamunrar_iface.dll"}) {
      if (Exists(folder + unrar)) LoadByFullPath(folder + unrar);
    }
    if (HMODULE module = LoadByFullPath(path)) {
      folderOfLibclamav = Utf8(folder);
      return module;
    }
    problem = Utf8(path) + " does not load (error " + std::to_string(::GetLastError()) + ")";
    return nullptr;
  }
  problem = "no ClamAV libclamav.dll (looked for " + tried + ")";
  return nullptr;
}

void* LibclamavFunction(void* library, const char* name) {
  FARPROC address = ::GetProcAddress(static_cast<HMODULE>(library), name);
  return reinterpret_cast<void*>(address);
}

void CloseLibclamav(void* library) {
  ::FreeLibrary(static_cast<HMODULE>(library));
  folderOfLibclamav.clear();
}

const std::string& LibclamavFolder() { return folderOfLibclamav; }

}  // namespace korbu::bridge
