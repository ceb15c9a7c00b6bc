#pragma once
// The detection list's control: a report view with check boxes, grid lines and
// full-row selection; cut-off texts unfold as tips, and a row's tip tells why an
// action left it pending.

#include <functional>
#include <string>
#include <vector>

#include "scan/DetectionList.h"
#include "win32app/Win32Api.h"

namespace korbu::win32app {

class DetectionListControl {
 public:
  DetectionListControl(HWND parent, int id, int x, int y, int width, int height);

  HWND Handle() const { return list_; }
  void ShowRow(std::size_t index, const DetectionRow& row, const std::string& tip);
  void Clear();
  /// Takes clicks or not, and looks it: a disabled list is drawn greyed.
  void SetEnabled(bool enabled);
  std::size_t RowCount() const;
  std::string CellText(std::size_t row, int column) const;
  bool Checked(std::size_t row) const;
  std::string Tip(std::size_t row) const { return row < tips_.size() ? tips_[row] : std::string(); }
  /// What hovering over a row shows: why an action left it pending when it has a
  /// reason, else its whole File Name when the column cuts it, else nothing.
  std::string InfoTip(std::size_t row) const;

  /// The user changed a row's mark.
  std::function<void(std::size_t, bool)> OnItemChecked;
  /// A click or double click anywhere in the list, after its mark change.
  std::function<void()> OnClick;

  /// The list's notifications, passed on by its parent; true when handled.
  bool Notify(const NMHDR& header, LRESULT& result);

 private:
  HWND list_ = nullptr;
  std::vector<std::string> tips_;
  bool following_ = false;  // the control is being brought in step, not by the user
};

}  // namespace korbu::win32app
