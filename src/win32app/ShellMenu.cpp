#include "win32app/ShellMenu.h"

#include "win32app/Win32Api.h"

namespace korbu::win32app {
namespace {

// The program's own verb below each class: one key, so removing it takes nothing else.
constexpr const wchar_t* kVerbKeys[] = {L"\\*\\shell\\KORBU", L"\\Directory\\shell\\KORBU"};

Status SetText(HKEY key, const wchar_t* name, const std::wstring& text) {
  const auto bytes = static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t));
  const LSTATUS set = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()), bytes);
  if (set != ERROR_SUCCESS) return Failure("cannot write a value of the Explorer entry (error " + std::to_string(set) + ")");
  return Ok();
}

Status WriteVerb(const std::wstring& path, const std::wstring& program) {
  HKEY verb = nullptr;
  LSTATUS made = RegCreateKeyExW(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &verb, nullptr);
  if (made != ERROR_SUCCESS) return Failure("cannot make the Explorer entry (error " + std::to_string(made) + ")");
  Status done = SetText(verb, nullptr, win32::Wide(kShellMenuText));
  if (done) done = SetText(verb, L"Icon", L"\"" + program + L"\",0");
  RegCloseKey(verb);
  if (!done) return done;
  HKEY command = nullptr;
  made = RegCreateKeyExW(HKEY_CURRENT_USER, (path + L"\\command").c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr,
                         &command, nullptr);
  if (made != ERROR_SUCCESS) return Failure("cannot make the Explorer entry (error " + std::to_string(made) + ")");
  done = SetText(command, nullptr, ShellCommand(program));
  RegCloseKey(command);
  return done;
}

}  // namespace

std::wstring ShellCommand(const std::wstring& program) { return L"\"" + program + L"\" \"%1\""; }

Status RegisterShellMenu(const std::wstring& program, const std::wstring& classes) {
  // A program path with a quote could not be told from the item on the command line.
  if (program.empty() || program.find(L'"') != std::wstring::npos) return Failure("not a program path");
  for (const wchar_t* verb : kVerbKeys) {
    if (Status done = WriteVerb(classes + verb, program); !done) {
      (void)UnregisterShellMenu(classes);
      return done;
    }
  }
  return Ok();
}

Status UnregisterShellMenu(const std::wstring& classes) {
  for (const wchar_t* verb : kVerbKeys) {
    const LSTATUS removed = RegDeleteTreeW(HKEY_CURRENT_USER, (classes + verb).c_str());
    if (removed != ERROR_SUCCESS && removed != ERROR_FILE_NOT_FOUND) {
      return Failure("cannot remove the Explorer entry (error " + std::to_string(removed) + ")");
    }
  }
  return Ok();
}

}  // namespace korbu::win32app
