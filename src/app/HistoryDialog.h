#pragma once
// The history of recorded actions as a modal dialog: the actions newest first,
// the selected one's rows and changes, and "Restore". What it lists and what
// Restore does is HistoryModel's.

#include <QDialog>

#include "ui/HistoryModel.h"

class QLabel;
class QListWidget;
class QPlainTextEdit;
class QPushButton;

namespace korbu {

class HistoryDialog : public QDialog {
  Q_OBJECT

 public:
  /// Reads the records of actionsFolder; shows them once exec() or show() is called.
  explicit HistoryDialog(QWidget* parent, std::string actionsFolder = ActionsFolder());

  /// Selects the entry at index (for keyboard users the list does this itself).
  void Select(int index);
  /// Restore of the selected entry, after its question.
  void RestoreSelected();

 private:
  void Fill(const std::string& keepId);
  void ShowSelected();

  HistoryModel model_;
  QListWidget* list_ = nullptr;
  QPlainTextEdit* details_ = nullptr;
  QLabel* outcome_ = nullptr;
  QPushButton* restore_ = nullptr;
  QPushButton* close_ = nullptr;
};

}  // namespace korbu
