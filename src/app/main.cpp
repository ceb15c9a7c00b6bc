// The desktop program: a splash window while the engine loads, then the main window.

#include <QApplication>

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/MainForm.h"
#include "app/SplashForm.h"
#include "cache/VerdictCache.h"
#include "engine/EngineStartup.h"
#include "scan/ScanSession.h"
#include "ui/StartLocation.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  korbu::SetUpApplication();

  // Shown and painted before the main window exists; the main window destroys it
  // at the end of its first activation.
  auto* splash = new korbu::TSplashForm;
  splash->show();
  splash->repaint();
  QApplication::processEvents();

  // Scans take what they found clean before from the user's verdict cache; without
  // one (another user's folder, no home) every file is judged, as before.
  auto cache = korbu::cache::VerdictCache::OpenForUser();
  korbu::TMainForm mainForm(korbu::MakeWindowEngineStartup());
  if (cache) mainForm.Controller().Session().SetVerdictCache(cache->get());
  mainForm.AttachSplash(splash);
  // A folder or file named on the command line (a file manager's "Scan with
  // KORBU"): its folder is selected, ready for "Scan", which then judges a file
  // alone. The toolkit has taken its own options out of the arguments already.
  std::vector<std::string> arguments;
  for (const QString& argument : QApplication::arguments().mid(1)) arguments.push_back(argument.toStdString());
  const std::string start = korbu::StartLocation(arguments);
  const std::string file = korbu::StartFile(arguments);
  if (!start.empty()) mainForm.SelectLocation(file.empty() ? start : file);
  mainForm.show();
  mainForm.activateWindow();
  const int status = QApplication::exec();
  // Closed while the databases still load, which nothing can cut short: nothing
  // has been changed yet, so the program ends now instead of waiting for them.
  if (mainForm.Controller().StartupRunning()) {
    std::fflush(nullptr);
    std::_Exit(status);
  }
  return status;
}
