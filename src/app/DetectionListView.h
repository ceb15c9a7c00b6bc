#pragma once
// Shows the detection rows in the scan page's list control: each row's texts, its
// mark and, as its tool tip, why an action left it pending. The user's changes of
// a mark go to OnItemChecked; the rows shown change only through ShowRow and Clear.

#include <QObject>

#include <cstddef>
#include <functional>
#include <string>

#include "scan/DetectionList.h"

class QTreeWidget;
class QTreeWidgetItem;

namespace korbu {

class DetectionListView : public QObject {
  Q_OBJECT

 public:
  explicit DetectionListView(QTreeWidget* view);

  /// Shows row index, appending the rows up to it; tip empty for none.
  void ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip);
  void Clear();

  /// The user changed the mark of a row (index, checked).
  std::function<void(std::size_t, bool)> OnItemChecked;

  /// Sets up the control: three columns, check boxes, full-row selection.
  static void ConfigureControl(QTreeWidget* view);

 private:
  void OnItemChanged(QTreeWidgetItem* item, int column);

  QTreeWidget* view_;
  bool following_ = false;  // the program changes the control; not the user's doing
};

}  // namespace korbu
