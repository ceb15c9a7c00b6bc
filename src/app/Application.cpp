#include "app/Application.h"

#include <QApplication>
#include <QStyleFactory>
#include <QToolTip>

#include "app/WindowStyle.h"

namespace korbu {

void SetUpApplication() {
  // Before the first window: the toolkit fixes the window class from these then.
  // No display name: the toolkit would append it to every window's title, and
  // the windows are titled "KORBU" and "Confirm" exactly. Message boxes without
  // a title of their own still take this name.
  QApplication::setApplicationName(QStringLiteral("Selvo Antivirus"));
  QGuiApplication::setDesktopFileName(QStringLiteral("selvo-antivirus"));
  QApplication::setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
  // What the windows do not set themselves (message boxes, tool tips) in their face.
  QApplication::setFont(WindowFont());
  QToolTip::setFont(WindowFont());
}

}  // namespace korbu
