#include "app/Application.h"

#include <QApplication>
#include <QStyleFactory>

namespace korbu {

void SetUpApplication() {
  // Before the first window: the toolkit fixes the window class from these then.
  // The main window keeps its own caption "KORBU".
  QApplication::setApplicationName(QStringLiteral("Selvo Antivirus"));
  QApplication::setApplicationDisplayName(QStringLiteral("Selvo Antivirus"));
  QGuiApplication::setDesktopFileName(QStringLiteral("selvo-antivirus"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
}

}  // namespace korbu
