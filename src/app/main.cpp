// The desktop program: a splash window while the engine loads, then the main window.

#include <QApplication>
#include <QStyleFactory>

#include <memory>

#include "app/EngineStartup.h"
#include "app/MainForm.h"
#include "app/SplashForm.h"

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));

  // Shown and painted before the main window exists; the main window destroys it
  // at the end of its first activation.
  auto* splash = new korbu::TSplashForm;
  splash->show();
  splash->repaint();
  QApplication::processEvents();

  // The application title; the main window keeps its own caption "KORBU".
  QApplication::setApplicationName(QStringLiteral("Selvo Antivirus"));

  korbu::TMainForm mainForm(korbu::MakeEngineStartup());
  mainForm.AttachSplash(splash);
  mainForm.show();
  mainForm.activateWindow();
  return QApplication::exec();
}
