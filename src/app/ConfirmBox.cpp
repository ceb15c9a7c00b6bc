#include "app/ConfirmBox.h"

#include <QMessageBox>
#include <QPushButton>

#include <optional>
#include <utility>

namespace korbu {
namespace {

std::optional<bool> gNextAnswer;
std::function<void()> gWhileOpen;
int gQuestionsAsked = 0;
QString gLastQuestion;

}  // namespace

bool ConfirmBox::Ask(QWidget* parent, const QString& question) {
  ++gQuestionsAsked;
  gLastQuestion = question;
  if (gNextAnswer) {
    const bool answer = *gNextAnswer;
    gNextAnswer.reset();
    if (auto whileOpen = std::exchange(gWhileOpen, {})) whileOpen();
    return answer;
  }
  QMessageBox box(QMessageBox::Question, QStringLiteral("Confirm"), question, QMessageBox::NoButton,
                  parent);
  QPushButton* yes = box.addButton(QStringLiteral("&Yes"), QMessageBox::YesRole);
  QPushButton* no = box.addButton(QStringLiteral("&No"), QMessageBox::NoRole);
  box.setDefaultButton(yes);
  box.setEscapeButton(no);
  box.exec();
  return box.clickedButton() == yes;
}

void ConfirmBox::SetNextAnswer(bool yes, std::function<void()> whileOpen) {
  gNextAnswer = yes;
  gWhileOpen = std::move(whileOpen);
}
int ConfirmBox::QuestionsAsked() { return gQuestionsAsked; }
QString ConfirmBox::LastQuestion() { return gLastQuestion; }

}  // namespace korbu
