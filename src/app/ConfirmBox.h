#pragma once
// The program's one question: the modal "Confirm" box with "&Yes" and "&No".
// Tests set the next answer so that no box blocks them.

#include <QString>

#include <functional>

class QWidget;

namespace korbu {

class ConfirmBox {
 public:
  /// Asks the question; true for "Yes". With an answer set by SetNextAnswer, that
  /// answer is taken (once) and no box is shown.
  static bool Ask(QWidget* parent, const QString& question);

  /// For tests: the answer to give to the next question instead of showing a box;
  /// whileOpen runs first, standing for what happens while the box is open.
  static void SetNextAnswer(bool yes, std::function<void()> whileOpen = {});
  /// For tests: how many questions were asked since the start.
  static int QuestionsAsked();
  static QString LastQuestion();
};

}  // namespace korbu
