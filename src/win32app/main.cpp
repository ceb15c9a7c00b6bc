// The desktop program on Windows: a splash window while the engine loads, then the
// main window, until it is closed.

#include <cstdio>
#include <cstdlib>
#include <stdexcept>
#include <string>
#include <vector>

#include "cache/VerdictCache.h"
#include "platform/Path.h"
#include "scan/ScanSession.h"
#include "ui/StartLocation.h"
#include "win32app/MainWindow.h"
#include "win32app/ShellMenu.h"

namespace {

// --register-shell and --unregister-shell: Explorer's "Scan with KORBU" for this
// user, and no window. The outcome, since no window shows it, on standard error
// and in the exit status.
bool ShellMenuSwitch(const std::vector<std::string>& arguments, int& status) {
  for (const std::string& argument : arguments) {
    if (argument == "--") break;
    const bool add = argument == korbu::win32app::kRegisterShellSwitch;
    if (!add && argument != korbu::win32app::kUnregisterShellSwitch) continue;
    const korbu::Status done =
        add ? korbu::win32app::RegisterShellMenu(korbu::platform::win32::Wide(korbu::platform::ExecutablePath()))
            : korbu::win32app::UnregisterShellMenu();
    if (done) {
      std::fprintf(stderr, "korbu: \"%s\" %s\n", korbu::win32app::kShellMenuText,
                   add ? "is in Explorer's menus for files and folders" : "was removed from Explorer's menus");
    } else {
      std::fprintf(stderr, "korbu: %s\n", done.error().reason.c_str());
    }
    status = done ? 0 : 1;
    return true;
  }
  return false;
}

std::vector<std::string> Arguments() {
  std::vector<std::string> named;
  int count = 0;
  if (LPWSTR* arguments = CommandLineToArgvW(GetCommandLineW(), &count)) {
    for (int i = 1; i < count; ++i) named.push_back(korbu::platform::win32::Utf8(arguments[i]));
    LocalFree(arguments);
  }
  return named;
}

}  // namespace

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
  const std::vector<std::string> named = Arguments();
  if (int status = 0; ShellMenuSwitch(named, status)) return status;
  // The shell namespace and the imaging component are COM; the walk's worker
  // needs neither.
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  try {
    korbu::win32app::Win32Dispatcher dispatcher;
    // Scans take what they found clean before from the user's verdict cache.
    auto cache = korbu::cache::VerdictCache::OpenForUser();
    korbu::win32app::MainWindow window(dispatcher, korbu::MakeEngineStartup());
    if (cache) window.Controller().Session().SetVerdictCache(cache->get());
    // A folder or file named on the command line (Explorer's "Scan with KORBU"):
    // its folder is selected, ready for "Scan", which then judges a file alone.
    const std::string start = korbu::StartLocation(named);
    if (!start.empty() && window.Tree().SelectPath(start)) window.Controller().SetFileTarget(korbu::StartFile(named));
    MSG message;
    // A quit taken by a wait for the walk ends the loop as well.
    while (!dispatcher.QuitSeen()) {
      const BOOL got = GetMessageW(&message, nullptr, 0, 0);
      if (got <= 0) {
        status = got == 0 ? static_cast<int>(message.wParam) : 1;
        break;
      }
      // Tab and the arrow keys move between the controls, as in a dialog.
      if (!window.Closed() && IsDialogMessageW(window.Handle(), &message)) continue;
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
    // Closed while the databases still load, which nothing can cut short: nothing
    // has been changed yet, so the program ends now instead of waiting for them.
    if (window.Controller().StartupRunning()) {
      std::fflush(nullptr);
      std::_Exit(status);
    }
  } catch (const std::runtime_error& error) {
    // No window could be made: say so and end rather than run on unseen.
    std::fprintf(stderr, "korbu: %s\n", error.what());
    MessageBoxW(nullptr, korbu::platform::win32::Wide(error.what()).c_str(), L"Selvo Antivirus", MB_OK | MB_ICONERROR);
    status = 1;
  }
  CoUninitialize();
  return status;
}
