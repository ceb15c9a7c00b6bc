#include "app/ErrorBox.h"

#include <QGuiApplication>
#include <QMessageBox>

namespace korbu {
namespace {

bool gRecordOnly = false;
int gShown = 0;
QString gLastMessage;

}  // namespace

void ErrorBox::Show(QWidget* parent, const QString& message) {
  ++gShown;
  gLastMessage = message;
  if (gRecordOnly) return;
  QMessageBox box(QMessageBox::Critical, QGuiApplication::applicationDisplayName(), message,
                  QMessageBox::Ok, parent);
  box.exec();
}

void ErrorBox::Record() { gRecordOnly = true; }
int ErrorBox::Shown() { return gShown; }
QString ErrorBox::LastMessage() { return gLastMessage; }

}  // namespace korbu
