#pragma once
// Shows a DetectionList in the scan page's list control and keeps the two in step:
// rows follow the list's change handler, the user's check marks go back through
// DetectionList::SetChecked, which refuses marks on handled rows.

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
  /// Takes the list's change handler; onChange runs after the view has followed a
  /// change (with the row index, or DetectionList::npos after a clear).
  DetectionListView(QTreeWidget* view, DetectionList& list,
                    std::function<void(std::size_t)> onChange);
  ~DetectionListView() override;

  /// Why the row stays pending after an action, shown as its tool tip; an empty
  /// reason removes it.
  void SetRowReason(std::size_t index, const std::string& reason);

  /// Sets up the control: three columns, check boxes, full-row selection.
  static void ConfigureControl(QTreeWidget* view);

 private:
  void Follow(std::size_t index);
  void ShowRow(std::size_t index);
  void OnItemChanged(QTreeWidgetItem* item, int column);

  QTreeWidget* view_;
  DetectionList& list_;
  std::function<void(std::size_t)> onChange_;
  bool following_ = false;  // the view is being brought in step; not the user's doing
};

}  // namespace korbu
