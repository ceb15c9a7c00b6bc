#include "app/HistoryDialog.h"

#include <QApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "app/ConfirmBox.h"
#include "app/WindowStyle.h"

namespace korbu {
namespace {

// The model's texts are UTF-8, their names made readable already.
QString Text(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

HistoryDialog::HistoryDialog(QWidget* parent, std::string actionsFolder)
    : QDialog(parent), model_(std::move(actionsFolder)) {
  setObjectName(QStringLiteral("HistoryDialog"));
  setWindowTitle(Text(kHistoryTitle));
  setFont(WindowFont());
  resize(620, 420);

  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("lvHistory"));
  details_ = new QPlainTextEdit(this);
  details_->setObjectName(QStringLiteral("memHistoryDetails"));
  details_->setReadOnly(true);
  details_->setLineWrapMode(QPlainTextEdit::NoWrap);
  outcome_ = new QLabel(this);
  outcome_->setObjectName(QStringLiteral("lbHistoryOutcome"));
  outcome_->setWordWrap(true);
  outcome_->setTextFormat(Qt::PlainText);
  restore_ = MakeButton(this, QStringLiteral("btnRestore"), Text(kRestoreCaption));
  close_ = MakeButton(this, QStringLiteral("btnClose"), Text(kCloseCaption));
  restore_->setFixedSize(75, 25);
  close_->setFixedSize(75, 25);
  // Enter closes; Restore puts detected files back, so it is never pressed by default.
  restore_->setAutoDefault(false);
  close_->setDefault(true);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch();
  buttons->addWidget(restore_);
  buttons->addWidget(close_);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(list_, 2);
  layout->addWidget(details_, 3);
  layout->addWidget(outcome_);
  layout->addLayout(buttons);

  connect(list_, &QListWidget::currentRowChanged, this, [this] { ShowSelected(); });
  connect(restore_, &QPushButton::clicked, this, [this] { RestoreSelected(); });
  connect(close_, &QPushButton::clicked, this, &QDialog::accept);
  Fill(std::string());
}

void HistoryDialog::Fill(const std::string& keepId) {
  const std::string error = model_.Reload();
  const QSignalBlocker quiet(list_);
  list_->clear();
  int current = model_.Entries().empty() ? -1 : 0;
  for (std::size_t i = 0; i < model_.Entries().size(); ++i) {
    list_->addItem(Text(model_.Entries()[i].title));
    if (model_.Entries()[i].id == keepId) current = static_cast<int>(i);
  }
  if (model_.Entries().empty()) {
    list_->addItem(Text(error.empty() ? HistoryModel::EmptyText() : error));
    list_->item(0)->setFlags(Qt::NoItemFlags);
  }
  list_->setCurrentRow(current);
  ShowSelected();
}

void HistoryDialog::Select(int index) { list_->setCurrentRow(index); }

void HistoryDialog::ShowSelected() {
  const int row = list_->currentRow();
  const bool valid = row >= 0 && static_cast<std::size_t>(row) < model_.Entries().size();
  details_->setPlainText(valid ? Text(model_.Details(static_cast<std::size_t>(row))) : QString());
  const bool restorable = valid && model_.Entries()[static_cast<std::size_t>(row)].restorable;
  restore_->setEnabled(restorable);
  // A disabled button still shows its tip: why it cannot be used.
  restore_->setToolTip(valid && !restorable ? Text(model_.Entries()[static_cast<std::size_t>(row)].notRestorable)
                                            : QString());
}

void HistoryDialog::RestoreSelected() {
  const int row = list_->currentRow();
  if (row < 0 || static_cast<std::size_t>(row) >= model_.Entries().size()) return;
  const std::size_t index = static_cast<std::size_t>(row);
  if (!model_.Entries()[index].restorable) return;
  if (!ConfirmBox::Ask(this, Text(kRestoreQuestion))) return;
  const std::string id = model_.Entries()[index].id;
  QApplication::setOverrideCursor(Qt::WaitCursor);
  const std::string told = model_.Restore(index);
  QApplication::restoreOverrideCursor();
  outcome_->setText(Text(told));
  Fill(id);
}

}  // namespace korbu
