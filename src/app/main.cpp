// The desktop program: a splash window while the engine loads, then the main window.

#include <QApplication>

#include <memory>

#include "app/Application.h"
#include "app/MainForm.h"
#include "app/SplashForm.h"
#include "engine/EngineStartup.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  korbu::SetUpApplication();

  // Shown and painted before the main window exists; the main window destroys it
  // at the end of its first activation.
  auto* splash = new korbu::TSplashForm;
  splash->show();
  splash->repaint();
  QApplication::processEvents();

  korbu::TMainForm mainForm(korbu::MakeEngineStartup());
  mainForm.AttachSplash(splash);
  mainForm.show();
  mainForm.activateWindow();
  return QApplication::exec();
}
