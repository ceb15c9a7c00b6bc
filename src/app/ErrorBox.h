#pragma once
// The message box that shows an error the scan let through, with its one "OK".
// Tests have the boxes recorded instead of shown, so that none blocks them.

#include <QString>

class QWidget;

namespace korbu {

class ErrorBox {
 public:
  /// Shows the message modally; recorded only while tests have set Record.
  static void Show(QWidget* parent, const QString& message);

  /// For tests: record the messages instead of showing boxes.
  static void Record();
  static int Shown();
  static QString LastMessage();
};

}  // namespace korbu
