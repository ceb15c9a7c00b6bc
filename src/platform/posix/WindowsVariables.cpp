#include "platform/posix/WindowsVariables.h"

#include <map>

#include "platform/AsciiCase.h"
#include "platform/Registry.h"

namespace korbu::platform::posix {
namespace {

using Variables = std::map<std::string, std::string>;  // upper-case name -> value

std::string Expand(std::string_view text, const Variables& vars) {
  std::string out;
  std::size_t i = 0;
  while (i < text.size()) {
    const std::size_t open = text.find('%', i);
    if (open == std::string_view::npos) break;
    const std::size_t close = text.find('%', open + 1);
    if (close == std::string_view::npos) break;
    out.append(text.substr(i, open - i));
    auto found = vars.find(AsciiUppered(text.substr(open + 1, close - open - 1)));
    if (close > open + 1 && found != vars.end()) {
      out += found->second;
      i = close + 1;
    } else {
      // Not a known variable: keep the first '%' and look again from the second.
      out += '%';
      i = open + 1;
    }
  }
  out.append(text.substr(i));
  return out;
}

std::string TextOf(const RegistryValue& value) { return RegistryText(value.data); }

// Values of one environment key; expandable ones refer to what is known so far.
void AddKey(Variables& vars, const WindowsSystem& system, RootKey root, std::string_view keyPath) {
  auto key = system.OpenKey(root, keyPath, KeyAccess::Read);
  if (!key) return;
  auto values = key->EnumValues();
  if (!values) return;
  for (const auto& value : *values) {
    if (value.name.empty()) continue;
    if (value.type == kRegSz) vars[AsciiUppered(value.name)] = TextOf(value);
    else if (value.type == kRegExpandSz) vars[AsciiUppered(value.name)] = Expand(TextOf(value), vars);
  }
}

void AddUserVariables(Variables& vars, const std::string& drive, const std::string& profile,
                      const std::string& userName) {
  vars["USERNAME"] = userName;
  vars["USERPROFILE"] = profile;
  vars["HOMEDRIVE"] = drive;
  vars["HOMEPATH"] = profile.substr(2);
  vars["APPDATA"] = profile + "\\AppData\\Roaming";
  vars["LOCALAPPDATA"] = profile + "\\AppData\\Local";
  vars["TEMP"] = profile + "\\AppData\\Local\\Temp";
  vars["TMP"] = vars["TEMP"];
}

Variables SystemVariables(const WindowsSystem& system, const std::string& profile) {
  Variables vars;
  const std::string windows = system.WindowsDirectoryPath();
  if (windows.empty()) return vars;
  const std::string drive = windows.substr(0, 2);
  const std::string userName = profile.substr(profile.find_last_of('\\') + 1);
  vars["SYSTEMDRIVE"] = drive;
  vars["SYSTEMROOT"] = windows;
  vars["WINDIR"] = windows;
  vars["PROGRAMFILES"] = drive + "\\Program Files";
  vars["PROGRAMFILES(X86)"] = drive + "\\Program Files (x86)";
  vars["COMMONPROGRAMFILES"] = drive + "\\Program Files\\Common Files";
  vars["PROGRAMDATA"] = drive + "\\ProgramData";
  vars["ALLUSERSPROFILE"] = drive + "\\ProgramData";
  vars["PUBLIC"] = drive + "\\users\\Public";
  if (!profile.empty()) AddUserVariables(vars, drive, profile, userName);
  for (const auto& [root, keyPath] : WindowsVariableKeys()) AddKey(vars, system, root, keyPath);
  return vars;
}

}  // namespace

std::string ExpandWindowsVariables(const WindowsSystem& system, std::string_view text, const std::string& profile) {
  if (text.find('%') == std::string_view::npos) return std::string(text);
  return Expand(text, SystemVariables(system, profile));
}

RegistryKeyList WindowsVariableKeys() {
  // The system's variables first, then the user's, which win.
  return {{kHkeyLocalMachine, "System\\CurrentControlSet\\Control\\Session Manager\\Environment"},
          {kHkeyCurrentUser, "Environment"}};
}

}  // namespace korbu::platform::posix
